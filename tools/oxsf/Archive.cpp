// oxsf pack / unpack / ls: archive banks made from directory banks and back.

#include "BankLoader.h"
#include "Commands.h"
#include "Errors.h"
#include "Progress.h"

#include "write/ArchiveWriter.h"

#include <ox/stream/FileStream.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

namespace fs = std::filesystem;

namespace oxsf {

using namespace ox::soundfont;

namespace {

struct PackOptions {
    std::string dir;
    std::string out;
};

struct UnpackOptions {
    std::string archive;
    std::string dir;
    bool force = false;
};

struct ListOptions {
    std::string archive;
    bool json = false;
};

void warn(const std::string& message) {
    std::fprintf(stderr, "oxsf: warning: %s\n", message.c_str());
}

void collectFiles(const Layer& layer, std::set<std::string>& files) {
    for (const Sample& sample : layer.samples) {
        for (const Wav& wav : sample.wavs) {
            files.insert(wav.file);
        }
    }
    for (const Layer& child : layer.layers) {
        collectFiles(child, files);
    }
}

/// Every regular file under `folder`, named by its path relative to it with
/// "/" between folders: the name a description's "file" attribute uses.
std::vector<archive::ArchiveInput> sampleEntries(const fs::path& folder) {
    std::vector<archive::ArchiveInput> entries;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return entries;
    }
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) {
            entries.push_back(archive::ArchiveInput::fromFile(
                item.path().lexically_relative(folder).generic_string(), item.path().string()));
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return entries;
}

void runPack(const PackOptions& options) {
    if (!hasArchiveExtension(options.out)) {
        throw UsageError(fmt::format("{}: an archive bank must be named *.tq7bank or *.jux, or "
                                     "it will not open as a bank",
                                     options.out));
    }
    std::error_code ec;
    if (!fs::is_directory(options.dir, ec)) {
        throw ToolError(options.dir,
                        fs::exists(options.dir, ec) ? "not a folder" : "no such file or directory");
    }
    // Refuse to pack a description the library would not read.
    SoundFontManager manager;
    const OpenedBank opened = openBank(manager, options.dir);
    if (opened.archive) {
        throw ToolError(options.dir, "not a directory bank (no Samples.xml)");
    }

    const fs::path dir(options.dir);
    std::vector<archive::ArchiveInput> entries;
    entries.push_back(
        archive::ArchiveInput::fromFile("Samples.xml", (dir / "Samples.xml").string()));
    std::set<std::string> packed;
    for (auto& entry : sampleEntries(dir / "Samples")) {
        packed.insert(entry.name);
        entries.push_back(std::move(entry));
    }
    std::set<std::string> referenced;
    collectFiles(opened.bank->layer(), referenced);
    for (const std::string& file : referenced) {
        if (!packed.count(file)) {
            warn(fmt::format("{}: Samples.xml names \"{}\", which is not in Samples/", options.dir,
                             file));
        }
    }

    Progress progress(fmt::format("packing {} entries", entries.size()), 0);
    progress.update(0);
    try {
        archive::writeArchive(options.out, entries);
    } catch (const std::runtime_error& e) {
        throw ToolError("", e.what());
    }
    progress.finish();
    fmt::print("packed {} ({} entries: Samples.xml and {} sample files) into {}\n", options.dir,
               entries.size(), entries.size() - 1, options.out);
}

std::vector<archive::ArchiveRecord> readIndex(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        throw ToolError(path, "no such file or directory");
    }
    if (fs::is_directory(path, ec)) {
        throw ToolError(path, "is a folder, not an archive");
    }
    try {
        return archive::readArchiveIndex(path);
    } catch (const std::runtime_error& e) {
        throw ToolError("", e.what());
    }
}

/// Where an entry goes when unpacked: Samples.xml beside Samples/, the rest in it.
/// Names that would leave the folder are refused.
fs::path unpackedPath(const fs::path& dir, const std::string& archivePath,
                      const std::string& name) {
    if (name == "Samples.xml") {
        return dir / "Samples.xml";
    }
    const fs::path relative(name);
    bool safe = !name.empty() && relative.is_relative() && name.find('\\') == std::string::npos;
    for (const auto& part : relative) {
        safe = safe && part != ".." && part != "." && !part.empty();
    }
    if (!safe) {
        throw ToolError(archivePath, fmt::format("entry name \"{}\" is not a plain file name; "
                                                 "refusing to unpack it",
                                                 name));
    }
    return dir / "Samples" / relative;
}

void runUnpack(const UnpackOptions& options) {
    const std::vector<archive::ArchiveRecord> records = readIndex(options.archive);
    const fs::path dir(options.dir);
    std::error_code ec;
    if (!options.force && fs::exists(dir / "Samples.xml", ec)) {
        throw ToolError(options.dir, "already holds a Samples.xml (use --force to overwrite)");
    }
    auto stream = ox::stream::FileStream::open(options.archive, "rb");
    if (!stream) {
        throw ToolError(options.archive, "cannot open");
    }

    // The first record of a name is the one banks read; later ones are skipped.
    std::set<std::string> seen;
    std::vector<std::pair<archive::ArchiveRecord, fs::path>> plan;
    for (const auto& record : records) {
        if (!seen.insert(record.name).second) {
            warn(fmt::format("{}: entry \"{}\" appears twice; keeping the first", options.archive,
                             record.name));
            continue;
        }
        if (record.offset < 0 || record.offset + record.size > stream->size()) {
            throw ToolError(options.archive,
                            fmt::format("entry \"{}\" runs past the end of the file", record.name));
        }
        plan.emplace_back(record, unpackedPath(dir, options.archive, record.name));
    }
    if (!seen.count("Samples.xml")) {
        warn(fmt::format("{}: the archive has no Samples.xml entry", options.archive));
    }

    Progress progress("unpacking", static_cast<int64_t>(plan.size()));
    int64_t done = 0;
    for (const auto& [record, target] : plan) {
        fs::create_directories(target.parent_path(), ec);
        std::ofstream file(target, std::ios::binary | std::ios::trunc);
        if (record.size > 0) {
            file.write(stream->data() + record.offset, record.size);
        }
        if (!file.flush()) {
            throw ToolError(target.string(), "cannot write");
        }
        progress.update(++done);
    }
    progress.finish();
    fmt::print("unpacked {} entries from {} into {}\n", plan.size(), options.archive, options.dir);
}

void runList(const ListOptions& options) {
    const std::vector<archive::ArchiveRecord> records = readIndex(options.archive);
    if (options.json) {
        nlohmann::json j;
        j["path"] = options.archive;
        j["entries"] = nlohmann::json::array();
        for (const auto& r : records) {
            j["entries"].push_back({{"name", r.name}, {"offset", r.offset}, {"size", r.size}});
        }
        std::cout << j.dump(2) << '\n';
        return;
    }
    int64_t total = 0;
    fmt::print("{:>10}  {:>10}  {}\n", "offset", "size", "name");
    for (const auto& r : records) {
        fmt::print("{:>10}  {:>10}  {}\n", r.offset, r.size, r.name);
        total += r.size;
    }
    fmt::print("{} entries, {} bytes of data\n", records.size(), total);
}

} // namespace

void addArchiveCommands(CLI::App& app) {
    auto pack = std::make_shared<PackOptions>();
    CLI::App* cmd = app.add_subcommand("pack", "Pack a directory bank into an archive bank");
    cmd->add_option("DIR", pack->dir, "Directory bank (Samples.xml and Samples/)")->required();
    cmd->add_option("OUT", pack->out, "Archive to write (*.tq7bank or *.jux)")->required();
    cmd->callback([pack] { runPack(*pack); });

    auto unpack = std::make_shared<UnpackOptions>();
    cmd = app.add_subcommand("unpack", "Unpack an archive bank into a directory bank");
    cmd->add_option("ARCHIVE", unpack->archive, "Archive bank")->required();
    cmd->add_option("DIR", unpack->dir, "Folder to write Samples.xml and Samples/ into")
        ->required();
    cmd->add_flag("--force", unpack->force, "Overwrite a bank already in DIR");
    cmd->callback([unpack] { runUnpack(*unpack); });

    auto list = std::make_shared<ListOptions>();
    cmd = app.add_subcommand("ls", "List the entries of an archive bank");
    cmd->add_option("ARCHIVE", list->archive, "Archive bank")->required();
    cmd->add_flag("--json", list->json, "Print JSON instead of text");
    cmd->callback([list] { runList(*list); });
}

} // namespace oxsf
