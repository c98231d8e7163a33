// oxsf import: SF2 soundfonts, SFZ instruments and Hydrogen drum kits into banks.

#include "Commands.h"
#include "Errors.h"
#include "Progress.h"

#include <ox/import/Import.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <iostream>
#include <memory>
#include <optional>

namespace oxsf {

namespace {

using Json = nlohmann::ordered_json; // keeps the keys in the order written

struct ImportOptions {
    std::string source;
    std::string outDir;
    std::vector<std::string> presets;
    std::string program;
    bool archive = false;
    bool drums = false;
    bool json = false;
    bool verbose = false;
};

ox::import::BankProgram bankProgram(const std::string& text) {
    int bank = -1;
    int program = -1;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%d:%d%c", &bank, &program, &rest) != 2 || bank < 0 ||
        bank > 16383 || program < 0 || program > 127) {
        throw UsageError(fmt::format("'{}' is not BANK:PROGRAM (bank 0-16383, program 0-127, "
                                     "for example 0:0 or 128:0)",
                                     text));
    }
    return {bank, program};
}

std::string bankText(const ox::import::BankReport& report) {
    return report.bank < 0 ? std::string() : fmt::format(", {}:{}", report.bank, report.program);
}

Json reportJson(const ox::import::BankReport& report) {
    Json j = {
        {"path", report.path}, {"id", report.id}, {"name", report.name}, {"kind", report.kind}};
    if (report.bank >= 0) {
        j["bank"] = report.bank;
        j["program"] = report.program;
    }
    j["source"] = report.source;
    j["samples"] = report.samples;
    j["files"] = report.files;
    j["dropped"] = report.dropped;
    j["warnings"] = report.warnings;
    if (!report.pieces.empty()) {
        j["pieces"] = Json::array();
        for (const auto& [note, name] : report.pieces) {
            j["pieces"].push_back({{"midi", note}, {"name", name}});
        }
    }
    return j;
}

void printReport(const ox::import::BankReport& report) {
    fmt::print("{} ({}{}): {} samples in {} files\n", report.path, report.id, bankText(report),
               report.samples, report.files);
    if (!report.pieces.empty()) {
        std::string pieces;
        for (const auto& [note, name] : report.pieces) {
            pieces += fmt::format("{}{} {}", pieces.empty() ? "" : ", ", note, name);
        }
        fmt::print("  pieces: {}\n", pieces);
    }
    for (const std::string& what : report.dropped) {
        fmt::print("  dropped: {}\n", what);
    }
}

void warn(const std::string& message) {
    std::fprintf(stderr, "oxsf: warning: %s\n", message.c_str());
}

void runImport(const ImportOptions& options) {
    ox::import::ImportOptions settings;
    for (const std::string& preset : options.presets) {
        settings.presets.push_back(bankProgram(preset));
    }
    if (!options.program.empty()) {
        settings.program = bankProgram(options.program);
    }
    settings.archive = options.archive;
    settings.drums = options.drums;
    settings.verbose = options.verbose;
    auto progress = std::make_shared<std::optional<Progress>>();
    settings.progress = [progress](int done, int total) {
        if (!*progress) {
            progress->emplace("importing", total);
        }
        (*progress)->update(done);
    };

    ox::import::ImportResult result;
    try {
        result = ox::import::importSource(options.source, options.outDir, settings);
    } catch (const ox::import::ImportError& e) {
        throw ToolError("", e.what());
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    progress->reset();

    for (const std::string& warning : result.warnings) {
        warn(fmt::format("{}: {}", options.source, warning));
    }
    for (const auto& report : result.banks) {
        for (const std::string& warning : report.warnings) {
            warn(fmt::format("{}: {}", report.path, warning));
        }
    }
    if (options.json) {
        Json banks = Json::array();
        for (const auto& report : result.banks) {
            banks.push_back(reportJson(report));
        }
        std::cout << banks.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
        return;
    }
    for (const auto& report : result.banks) {
        printReport(report);
    }
    fmt::print("{} bank{} written into {}; listed in {}/instruments.json\n", result.banks.size(),
               result.banks.size() == 1 ? "" : "s", options.outDir, options.outDir);
}

} // namespace

void addImportCommand(CLI::App& app) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* cmd = app.add_subcommand(
        "import", "Turn an SF2 soundfont, an SFZ instrument or a Hydrogen drum kit into banks");
    cmd->add_option("SOURCE", options->source,
                    "An .sf2 or .sfz file, or a Hydrogen kit (its folder or drumkit.xml)")
        ->required();
    cmd->add_option("OUTDIR", options->outDir,
                    "Folder for the banks and instruments.json (created when missing)")
        ->required();
    cmd->add_option("--preset", options->presets,
                    "SF2: import this preset only (BANK:PROGRAM, repeatable)");
    cmd->add_option("--program", options->program,
                    "SFZ, Hydrogen: the BANK:PROGRAM listed in instruments.json");
    cmd->add_flag("--archive", options->archive, "Write archive banks (.tq7bank)");
    cmd->add_flag("--drums", options->drums, "SFZ: file the instrument as a drum kit");
    cmd->add_flag("--json", options->json, "Print the banks written as JSON");
    cmd->add_flag("--verbose", options->verbose, "Show libinstpatch's messages about the file");
    cmd->callback([options] { runImport(*options); });
}

} // namespace oxsf
