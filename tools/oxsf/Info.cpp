// oxsf info: who a bank is and what its sample tree holds.

#include "BankCheck.h"
#include "BankLoader.h"
#include "Commands.h"
#include "Coverage.h"
#include "CoverageMap.h"
#include "Errors.h"
#include "Report.h"
#include "Vocabulary.h"

#include <soundfont/SampleTree.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <iostream>
#include <set>

namespace oxsf {

using namespace ox::soundfont;

namespace {

struct InfoOptions {
    std::string bank;
    bool verbose = false;
    bool all = false;
    bool json = false;
    std::string map;
};

struct DescriptionCounts {
    int samples = 0;
    std::set<std::string> files;
};

// The top layer's own samples are never filed, so they are not counted.
void countLayer(const Layer& layer, DescriptionCounts& counts, bool top) {
    if (!top) {
        counts.samples += static_cast<int>(layer.samples.size());
    }
    for (const Sample& sample : layer.samples) {
        for (const Wav& wav : sample.wavs) {
            counts.files.insert(wav.file);
        }
        for (const SampleLayer& layer : sample.layers) {
            counts.files.insert(layer.wave.file);
        }
    }
    for (const Layer& child : layer.layers) {
        countLayer(child, counts, false);
    }
}

std::vector<std::string> missingFiles(const SoundFont& bank, const std::set<std::string>& files) {
    std::vector<std::string> missing;
    for (const std::string& file : files) {
        if (file.empty() || !bank.sample(file)) {
            missing.push_back(file);
        }
    }
    return missing;
}

std::string tuningText(const std::vector<int>& tuning, bool names) {
    std::string text;
    for (int pitch : tuning) {
        if (!text.empty()) {
            text += ' ';
        }
        text += names ? pitchName(pitch) : std::to_string(pitch);
    }
    return text;
}

double decibels(float gain) {
    return gain > 0.0f ? 20.0 * std::log10(gain) : -INFINITY;
}

void printNode(const SampleTreeNode& node, Kind kind, int level, const InfoOptions& options) {
    const unsigned count = node.recursiveSampleCount();
    if (count == 0 && !options.all) {
        return;
    }
    const std::string indent(static_cast<size_t>(level) * 2, ' ');
    const std::string label = indent + levelWord(kind, level, node.id());
    fmt::print("{:<24} {:>5}\n", label, count);
    if (options.verbose) {
        for (const auto& sample : node.samples()) {
            const std::string voice = voiceText(*sample);
            fmt::print("{}  {}  {}{}{}\n", indent, coordinateText(*sample), filesText(*sample),
                       voice.empty() ? "" : "  ", voice);
            for (const SampleTreeNodeSample& layer : sample->layers) {
                const std::string layerVoice = voiceText(layer);
                fmt::print("{}    + layer {}{}{}\n", indent, filesText(layer),
                           layerVoice.empty() ? "" : "  ", layerVoice);
            }
        }
    }
    for (const auto& child : node.children()) {
        printNode(*child, kind, level + 1, options);
    }
}

nlohmann::json nodeJson(const SampleTreeNode& node, Kind kind, int level,
                        const InfoOptions& options) {
    nlohmann::json j;
    static const char* levels[] = {"root", "attack", "technique", "variation"};
    j["level"] = level <= 3 ? levels[level] : "deeper";
    j["id"] = node.id();
    j["name"] = levelWord(kind, level, node.id());
    j["sampleCount"] = node.recursiveSampleCount();
    j["samples"] = nlohmann::json::array();
    for (const auto& sample : node.samples()) {
        j["samples"].push_back(sampleJson(kind, *sample));
    }
    j["children"] = nlohmann::json::array();
    for (const auto& child : node.children()) {
        if (options.all || child->recursiveSampleCount() > 0) {
            j["children"].push_back(nodeJson(*child, kind, level + 1, options));
        }
    }
    return j;
}

void writeMap(const SoundFont& bank, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << coverageMapSvg(bank, coverageOf(bank), CheckOptions{}.maxTranspose);
    if (!out.flush()) {
        throw ToolError(path, "cannot write the coverage map");
    }
}

/// What `info` reports beyond the bank's own accessors.
struct BankFacts {
    Kind kind;
    DescriptionCounts counts;
    std::vector<std::string> missing;
    int inTree = 0;
};

BankFacts factsOf(const SoundFont& bank) {
    BankFacts facts;
    facts.kind = treeKind(bank.sampleTree());
    countLayer(bank.layer(), facts.counts, true);
    facts.missing = missingFiles(bank, facts.counts.files);
    std::vector<SampleTreeNodeSample*> filed;
    bank.sampleTree().getSamples(filed);
    facts.inTree = static_cast<int>(filed.size());
    return facts;
}

void printJson(const OpenedBank& opened, const BankFacts& facts, const InfoOptions& options) {
    const SoundFont& bank = *opened.bank;
    const SampleTree& tree = bank.sampleTree();
    nlohmann::json j;
    j["path"] = opened.path;
    j["id"] = bank.id();
    j["name"] = bank.name();
    j["type"] = bank.type();
    j["kind"] = kindName(facts.kind);
    j["description"] = bank.description();
    j["velocity"] = bank.velocity();
    j["gain"] = bank.gain();
    j["tuning"] = bank.tuning();
    j["packaging"] = opened.archive ? "archive" : "directory";
    j["samples"] = {{"description", facts.counts.samples}, {"tree", facts.inTree}};
    j["files"] = {{"referenced", facts.counts.files.size()}, {"missing", facts.missing}};
    j["tree"] = tree.root() ? nodeJson(*tree.root(), facts.kind, 0, options) : nlohmann::json();
    if (!options.map.empty()) {
        j["map"] = options.map;
    }
    std::cout << j.dump(2) << '\n';
}

void printText(const OpenedBank& opened, const BankFacts& facts, const InfoOptions& options) {
    const SoundFont& bank = *opened.bank;
    const SampleTree& tree = bank.sampleTree();
    const Kind kind = facts.kind;
    fmt::print("{}\n", bank.name().empty() ? opened.path : bank.name());
    fmt::print("  id           {}\n", bank.id());
    fmt::print("  type         {} ({})\n", bank.type().empty() ? "-" : bank.type(), kindName(kind));
    if (!bank.description().empty()) {
        fmt::print("  description  {}\n", bank.description());
    }
    fmt::print("  velocity     {:.2f} (gain {:.3f}, {:+.1f} dB)\n", bank.velocity(), bank.gain(),
               decibels(bank.gain()));
    if (!bank.tuning().empty()) {
        fmt::print("  tuning       {} ({})\n", tuningText(bank.tuning(), false),
                   tuningText(bank.tuning(), true));
    }
    fmt::print("  packaging    {}\n", opened.archive ? "archive" : "directory");
    fmt::print("  samples      {} filed in the tree", facts.inTree);
    if (facts.counts.samples != facts.inTree) {
        fmt::print(" ({} in the description: layers whose names are not in the {} vocabulary "
                   "are skipped)",
                   facts.counts.samples, kindName(kind));
    }
    fmt::print("\n  files        {} referenced, {} missing\n", facts.counts.files.size(),
               facts.missing.size());
    for (const std::string& file : facts.missing) {
        fmt::print("    missing: {}\n", file.empty() ? "(empty file name)" : file);
    }
    if (!options.map.empty()) {
        fmt::print("  map          {}\n", options.map);
    }
    if (tree.root()) {
        fmt::print("tree{:<20} {:>5}\n", "", "samples");
        for (const auto& child : tree.root()->children()) {
            printNode(*child, kind, AttackLevel, options);
        }
    }
}

void runInfo(const InfoOptions& options) {
    SoundFontManager manager;
    const OpenedBank opened = openBank(manager, options.bank);
    const BankFacts facts = factsOf(*opened.bank);
    if (!options.map.empty()) {
        writeMap(*opened.bank, options.map);
    }
    if (options.json) {
        printJson(opened, facts, options);
    } else {
        printText(opened, facts, options);
    }
}

} // namespace

void addInfoCommand(CLI::App& app) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show a bank's identity, settings and sample tree");
    cmd->add_option("BANK", options->bank, "Bank folder or archive")->required();
    cmd->add_flag("-v,--verbose", options->verbose, "List every sample with its files");
    cmd->add_flag("-a,--all", options->all, "Also show tree nodes that hold no samples");
    cmd->add_flag("--json", options->json, "Print JSON instead of text");
    cmd->add_option("--map", options->map,
                    "Also write the coverage map (SVG): the sample a request by pitch alone "
                    "plays at every note and dynamic, coloured by its transposition");
    cmd->callback([options] { runInfo(*options); });
}

} // namespace oxsf
