#include <ox/import/Import.h>

#include "BankWriter.h"
#include "Hydrogen.h"
#include "Sf2.h"
#include "Sfz.h"
#include "Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace ox::import {

namespace {

using Json = nlohmann::ordered_json; // keeps the keys in the order written

constexpr const char* kInstruments = "instruments.json";

std::string lowercase(std::string text) {
    for (char& c : text) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string bankProgram(int bank, int program) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d-%03d", bank, program);
    return text;
}

/// The entries of outDir/instruments.json, or an empty list when there is none.
Json readListing(const fs::path& file) {
    std::error_code error;
    if (!fs::exists(file, error)) {
        return Json::array();
    }
    const Json listing = Json::parse(readText(file.string()), nullptr, false);
    if (listing.is_discarded() || !listing.is_object() || !listing.contains("banks") ||
        !listing["banks"].is_array()) {
        throw ImportError(file.string(), "not a listing of banks (expected {\"version\": 1, "
                                         "\"banks\": [...]}); move it away to import here");
    }
    return listing["banks"];
}

/// Replaces the entries of the banks written (same path) and appends the new
/// ones; the others stay in their order.
void writeListing(const fs::path& file, Json banks, const std::vector<BankReport>& written) {
    for (const BankReport& report : written) {
        Json entry = {
            {"path", report.path}, {"id", report.id}, {"name", report.name}, {"kind", report.kind}};
        if (report.bank >= 0) {
            entry["bank"] = report.bank;
            entry["program"] = report.program;
        }
        entry["source"] = report.source;
        auto same = std::find_if(banks.begin(), banks.end(), [&](const Json& old) {
            return old.is_object() && old.value("path", "") == report.path;
        });
        if (same != banks.end()) {
            *same = entry;
        } else {
            banks.push_back(entry);
        }
    }
    // Names from a source may be in any encoding; the listing stays valid UTF-8.
    const std::string text =
        Json{{"version", 1}, {"banks", banks}}.dump(2, ' ', false, Json::error_handler_t::replace) +
        "\n";
    const fs::path temporary = file.string() + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    std::error_code error;
    if (!out.flush() || (out.close(), fs::rename(temporary, file, error), error)) {
        fs::remove(temporary, error);
        throw ImportError(file.string(), "cannot write");
    }
}

/// Gives a plan its folder, id and file prefix: recognisable, safe for a
/// shell, and unique within the import; file names also differ between
/// sources of the same name in different places.
class Namer {
public:
    Namer(const std::string& source, SourceKind kind) : m_kind(kind) {
        const fs::path path = fs::absolute(source);
        m_stem = safeName(kind == SourceKind::Hydrogen ? path.parent_path().filename().string()
                                                       : path.stem().string());
        m_source = kind == SourceKind::Hydrogen ? path.parent_path().filename().string()
                                                : path.filename().string();
        m_digest = pathDigest(source);
    }

    void name(BankPlan& plan) {
        std::string folder, id;
        switch (m_kind) {
        case SourceKind::Sf2:
            folder = bankProgram(plan.bank, plan.program) + "-" + safeName(plan.name);
            id = m_stem + "-" + bankProgram(plan.bank, plan.program);
            plan.description = "Preset " + std::to_string(plan.bank) + ":" +
                               std::to_string(plan.program) + " of " + m_source;
            break;
        case SourceKind::Sfz:
            folder = id = m_stem;
            plan.description = "SFZ instrument " + m_source;
            break;
        case SourceKind::Hydrogen:
            folder = id = safeName(plan.name);
            plan.description = "Hydrogen drum kit " + m_source;
            break;
        }
        plan.folder = folder;
        plan.id = id;
        for (int n = 2; !m_folders.insert(lowercase(plan.folder)).second; ++n) {
            plan.folder = folder + "-" + std::to_string(n);
            plan.id = id + "-" + std::to_string(n);
        }
        plan.filePrefix = plan.id + "-" + m_digest;
        plan.source = m_source;
    }

private:
    SourceKind m_kind;
    std::string m_stem, m_source, m_digest;
    std::set<std::string> m_folders;
};

/// Removes what an import killed part-way left in `outDir`: staging folders
/// (".NAME.tmp-XXXXXX"), banks set aside for replacement ("NAME.old-DIGEST",
/// whose replacement is in place), archives and listings half written
/// ("NAME.tq7bank.tmp-XXXXXX", "instruments.json.tmp").
void removeLeftovers(const fs::path& outDir) {
    std::error_code error;
    std::vector<fs::path> leftovers;
    std::vector<std::pair<fs::path, fs::path>> restores;
    for (const auto& entry : fs::directory_iterator(outDir, error)) {
        const std::string name = entry.path().filename().string();
        const bool folder = entry.is_directory(error);
        const auto old = name.find(".old-");
        if (folder && old != std::string::npos) {
            // Killed between setting the old bank aside and putting the new one
            // in its place: the old one is still listed, so it goes back.
            const fs::path target = outDir / name.substr(0, old);
            if (fs::exists(target, error)) {
                leftovers.push_back(entry.path());
            } else {
                restores.emplace_back(entry.path(), target);
            }
        } else if ((folder && name[0] == '.' && name.find(".tmp-") != std::string::npos) ||
                   name.find(".tq7bank.tmp-") != std::string::npos ||
                   name == std::string(kInstruments) + ".tmp") {
            leftovers.push_back(entry.path());
        }
    }
    for (const auto& [from, to] : restores) {
        fs::rename(from, to, error);
    }
    for (const fs::path& leftover : leftovers) {
        fs::remove_all(leftover, error);
    }
}

std::string kitFile(const std::string& source) {
    std::error_code error;
    return fs::is_directory(source, error) ? (fs::path(source) / "drumkit.xml").string() : source;
}

void checkOptions(SourceKind kind, const ImportOptions& options) {
    if (kind != SourceKind::Sf2 && !options.presets.empty()) {
        throw std::invalid_argument("presets can be chosen from SF2 soundfonts only");
    }
    if (kind == SourceKind::Sf2 && options.program) {
        throw std::invalid_argument("an SF2 preset keeps its own bank and program");
    }
    if (kind != SourceKind::Sfz && options.drums) {
        throw std::invalid_argument("only an SFZ instrument can be filed as a drum kit");
    }
}

} // namespace

std::optional<SourceKind> sourceKind(const std::string& path) {
    std::error_code error;
    const fs::path p(path);
    if (fs::is_directory(p, error)) {
        return fs::is_regular_file(p / "drumkit.xml", error) ? std::optional(SourceKind::Hydrogen)
                                                             : std::nullopt;
    }
    const std::string extension = lowercase(p.extension().string());
    if (extension == ".sf2" || extension == ".sf3") {
        return SourceKind::Sf2;
    }
    if (extension == ".sfz") {
        return SourceKind::Sfz;
    }
    if (p.filename() == "drumkit.xml") {
        return SourceKind::Hydrogen;
    }
    return std::nullopt;
}

ImportResult importSource(const std::string& source, const std::string& outDir,
                          const ImportOptions& options) {
    std::error_code error;
    const auto kind = sourceKind(source);
    if (!kind) {
        throw ImportError(
            source, fs::exists(source, error)
                        ? "not an SF2 or SF3 soundfont (.sf2, .sf3), SFZ instrument (.sfz) or "
                          "Hydrogen drum kit (a folder with drumkit.xml)"
                        : "no such file or directory");
    }
    checkOptions(*kind, options);
    const fs::path listingFile = fs::path(outDir) / kInstruments;
    const Json listed = readListing(listingFile);

    ImportResult result;
    if (fs::is_directory(outDir, error)) {
        removeLeftovers(outDir);
    }
    Namer namer(*kind == SourceKind::Hydrogen ? kitFile(source) : source, *kind);
    // The folder is made once there is something to write into it.
    const auto write = [&](BankPlan& plan, int total) {
        if (!fs::is_directory(outDir, error) && !fs::create_directories(outDir, error)) {
            throw ImportError(outDir, "cannot create the folder: " + error.message());
        }
        namer.name(plan);
        result.banks.push_back(writeBank(plan, outDir, options.archive));
        // Listed as soon as it is in place: a killed import leaves a folder
        // whose listing names every finished bank.
        writeListing(listingFile, listed, result.banks);
        if (options.progress) {
            options.progress(int(result.banks.size()), total);
        }
    };
    if (*kind == SourceKind::Sf2) {
        const Sf2File font(source, options.verbose);
        std::vector<size_t> chosen;
        for (size_t i = 0; i < font.presets().size(); ++i) {
            const Sf2Preset& preset = font.presets()[i];
            const BankProgram id{preset.bank, preset.program};
            if (options.presets.empty() ||
                std::count(options.presets.begin(), options.presets.end(), id)) {
                chosen.push_back(i);
            }
        }
        for (const BankProgram& wanted : options.presets) {
            if (std::none_of(font.presets().begin(), font.presets().end(), [&](const auto& p) {
                    return p.bank == wanted.first && p.program == wanted.second;
                })) {
                throw ImportError(source, "has no preset " + std::to_string(wanted.first) + ":" +
                                              std::to_string(wanted.second));
            }
        }
        for (const size_t index : chosen) {
            BankPlan plan = font.plan(index);
            if (plan.zones.empty()) {
                result.warnings.insert(result.warnings.end(), plan.warnings.begin(),
                                       plan.warnings.end());
                result.warnings.push_back("preset " + std::to_string(plan.bank) + ":" +
                                          std::to_string(plan.program) + " \"" + plan.name +
                                          "\" plays no sample; skipped");
                continue;
            }
            write(plan, int(chosen.size()));
        }
        if (result.banks.empty()) {
            throw ImportError(source, "has no preset that plays a sample");
        }
    } else {
        const std::string file = *kind == SourceKind::Sfz ? source : kitFile(source);
        BankPlan plan =
            *kind == SourceKind::Sfz ? planSfz(file, options.drums) : planHydrogenKit(file);
        if (plan.zones.empty()) {
            throw ImportError(file, "nothing in it plays a sample");
        }
        if (options.program) {
            std::tie(plan.bank, plan.program) = *options.program;
        } else if (*kind == SourceKind::Hydrogen) {
            std::tie(plan.bank, plan.program) = BankProgram{128, 0};
        }
        write(plan, 1);
    }
    return result;
}

} // namespace ox::import
