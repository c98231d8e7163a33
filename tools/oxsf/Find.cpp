// oxsf find: which sample the library picks for a note, and why.

#include "BankLoader.h"
#include "Commands.h"
#include "Errors.h"
#include "Report.h"
#include "Search.h"
#include "Vocabulary.h"

#include <soundfont/NoteOption.h>
#include <soundfont/SampleTree.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>

namespace oxsf {

using namespace ox::soundfont;

namespace {

struct FindOptions {
    std::string bank;
    std::string midi;
    std::string dynamic = "F";
    std::string attack;
    std::string technique;
    std::string variation;
    int string = 0;
    std::string option;
    bool json = false;
};

std::string knownWords(Kind kind, int level) {
    std::string list;
    for (const char* word : levelWords(kind, level)) {
        list += (list.empty() ? "" : ", ") + std::string(word);
    }
    return list;
}

int wordValue(Kind kind, int level, const std::string& word) {
    static const char* names[] = {"", "attack", "technique", "variation"};
    const int value = levelValue(kind, level, word);
    if (value < 0) {
        throw UsageError(fmt::format("unknown {} '{}' for a {} bank (known: {})", names[level],
                                     word, kindName(kind), knownWords(kind, level)));
    }
    return value;
}

/// The first child of `node` whose subtree holds samples, else its first child.
const SampleTreeNode* firstChild(const SampleTreeNode* node) {
    if (!node || node->childrenCount() == 0) {
        return nullptr;
    }
    for (const auto& child : node->children()) {
        if (child->recursiveSampleCount() > 0) {
            return child.get();
        }
    }
    return node->children().front().get();
}

/// Fills the articulation of `request` from the words given; a missing technique
/// or variation becomes the first one the tree has samples for under the level above.
void applyArticulation(const FindOptions& options, Kind kind, const SampleTree& tree,
                       SampleCoordinate& request) {
    const SampleTreeNode* root = tree.root();
    if (!options.attack.empty()) {
        request.setAttack(wordValue(kind, AttackLevel, options.attack));
    }
    const SampleTreeNode* attackNode = root ? root->child(request.attack()) : nullptr;
    if (!options.technique.empty()) {
        request.setTechnique(wordValue(kind, TechniqueLevel, options.technique));
    } else if (const SampleTreeNode* first = firstChild(attackNode);
               first && !options.attack.empty()) {
        request.setTechnique(first->id());
    }
    const SampleTreeNode* techniqueNode =
        attackNode ? attackNode->child(request.technique()) : nullptr;
    if (!options.variation.empty()) {
        request.setVariation(wordValue(kind, VariationLevel, options.variation));
    } else if (!options.attack.empty() || !options.technique.empty()) {
        const SampleTreeNode* first = firstChild(techniqueNode);
        request.setVariation(first ? first->id() : -1);
    }
}

struct Note {
    int midi;
    int dynamic;
};

/// The note the options ask for; refuses what the library could never be asked.
Note checkedNote(const FindOptions& options) {
    const auto midi = parsePitch(options.midi);
    if (!midi) {
        throw UsageError(fmt::format("--midi: '{}' is not a MIDI note (0-127, or a name like "
                                     "C4 or F#3)",
                                     options.midi));
    }
    const auto dynamic = parseDynamic(options.dynamic);
    if (!dynamic) {
        throw UsageError(fmt::format("--dynamic: '{}' is not a dynamic (NONE, PPPPPPP .. P, MP, "
                                     "MF, F .. FFFFFFF, or 0-16)",
                                     options.dynamic));
    }
    if (options.string < 0) {
        throw UsageError("--string: strings are numbered from 1");
    }
    if (!options.option.empty() && options.option != "none" &&
        NoteOption::stringToInt(options.option) == 0) {
        throw UsageError(fmt::format("--option: unknown option '{}' (known: none, slow, medium, "
                                     "fast, xfast, shs, shf, mds, mdf, lns, lnf)",
                                     options.option));
    }
    return {*midi, *dynamic};
}

/// What a search answered, and which nodes it looked at on the way.
struct Found {
    bool byMidi = false;
    SampleCoordinate request;
    const SampleTreeNodeSample* sample = nullptr;
    std::vector<const SampleTreeNode*> addressed;
    const SampleTreeNode* holder = nullptr;
    bool direct = false;
};

Found search(const FindOptions& options, const Note& note, const SoundFont& bank,
             const std::string& path) {
    const SampleTree& tree = bank.sampleTree();
    const Kind kind = treeKind(tree);
    SampleTreeBuilder* builder = tree.builder();
    if (!builder || !tree.root()) {
        throw ToolError(path, "the bank's sample tree has no builder");
    }
    Found found;
    found.byMidi = options.attack.empty() && options.technique.empty() &&
                   options.variation.empty() && options.string == 0 && options.option.empty();
    SampleCoordinate& request = found.request;
    request = builder->coordinate(note.midi, note.dynamic);
    if (found.byMidi) {
        found.sample = tree.findSampleByMidi(note.midi, note.dynamic);
    } else {
        applyArticulation(options, kind, tree, request);
        if (options.string > 0) {
            const int string = options.string - 1;
            request[SampleCoordinate::String] = string;
            const auto& tuning = bank.tuning();
            request[SampleCoordinate::Fret] =
                string < static_cast<int>(tuning.size()) ? note.midi - tuning[string] : -1;
        }
        if (!options.option.empty()) {
            request[SampleCoordinate::Option] = NoteOption::stringToInt(options.option);
        }
        found.sample = tree.findSample(request);
    }

    for (const auto& searched : searchedPaths(request)) {
        found.addressed.push_back(tree.root()->findNode(searched));
    }
    if (!found.sample) {
        const bool anyNode = std::any_of(found.addressed.begin(), found.addressed.end(),
                                         [](const SampleTreeNode* n) { return n != nullptr; });
        throw ToolError(path,
                        anyNode ? fmt::format("no sample found for {} (the tree holds no samples)",
                                              articulationName(kind, request))
                                : fmt::format("no sample found: the tree has no node for {}",
                                              articulationName(kind, request)));
    }
    found.holder = holderOf(*tree.root(), found.sample);
    found.direct = std::find(found.addressed.begin(), found.addressed.end(), found.holder) !=
                   found.addressed.end();
    return found;
}

void runFind(const FindOptions& options) {
    const Note note = checkedNote(options);
    SoundFontManager manager;
    const OpenedBank opened = openBank(manager, options.bank);
    const SoundFont& bank = *opened.bank;
    const Kind kind = treeKind(bank.sampleTree());
    const Found found = search(options, note, bank, opened.path);
    const SampleTreeNodeSample& sample = *found.sample;
    const SampleCoordinate& request = found.request;

    std::vector<std::string> addressedNames;
    for (const SampleTreeNode* node : found.addressed) {
        addressedNames.push_back(nodeName(kind, node));
    }
    const std::string file = firstFile(sample);
    const bool fileMissing = file.empty() || !bank.sample(file);
    const float distance = request.distance(sample);
    const int transposition = note.midi - sample[SampleCoordinate::Midi];
    const char* searchName = found.byMidi ? "findSampleByMidi" : "findSample";

    if (options.json) {
        nlohmann::json j;
        j["bank"] = {{"path", opened.path}, {"id", bank.id()}, {"kind", kindName(kind)}};
        j["search"] = searchName;
        j["request"] = coordinateJson(kind, request);
        j["sample"] = sampleJson(kind, sample);
        j["file"] = file;
        j["fileMissing"] = fileMissing;
        j["distance"] = distance;
        j["transposition"] = transposition;
        j["addressed"] = addressedNames;
        j["answeredBy"] = nodeName(kind, found.holder);
        j["climbed"] = !found.direct;
        std::cout << j.dump(2) << '\n';
        return;
    }

    fmt::print("request    {:<22} {}\n", articulationName(kind, request), coordinateText(request));
    fmt::print("sample     {:<22} {}\n", articulationName(kind, sample), coordinateText(sample));
    fmt::print("files      {}{}\n", filesText(sample),
               fileMissing ? "  (the played file is missing from the bank)" : "");
    fmt::print("distance   {:g}\n", distance);
    fmt::print("transpose  {:+d} semitone{}\n", transposition,
               std::abs(transposition) == 1 ? "" : "s");
    std::string searched;
    for (const std::string& name : addressedNames) {
        searched += (searched.empty() ? "" : ", ") + name;
    }
    if (found.direct) {
        fmt::print("why        {} searched {}; {} holds samples and answered with its nearest\n",
                   searchName, searched, nodeName(kind, found.holder));
    } else {
        fmt::print("why        {} searched {}, which hold{} no samples; the search climbed to "
                   "{}\n",
                   searchName, searched, found.addressed.size() == 1 ? "s" : "",
                   nodeName(kind, found.holder));
    }
}

} // namespace

void addFindCommand(CLI::App& app) {
    auto options = std::make_shared<FindOptions>();
    CLI::App* cmd = app.add_subcommand("find", "Show the sample the library picks for a note");
    cmd->add_option("BANK", options->bank, "Bank folder or archive")->required();
    cmd->add_option("--midi,-m", options->midi, "MIDI note: number or name like C4, F#3")
        ->required();
    cmd->add_option("--dynamic,-d", options->dynamic, "Dynamic: name (PP, MF, F...) or 0-16")
        ->capture_default_str();
    cmd->add_option("--attack", options->attack, "Attack word (pick, finger, stick, hand...)");
    cmd->add_option("--technique", options->technique, "Technique word (sustain, hit...)");
    cmd->add_option("--variation", options->variation, "Variation word (down, up, rimshot...)");
    cmd->add_option("--string", options->string, "String, counted from 1 as in Samples.xml");
    cmd->add_option("--option", options->option, "Note option word (slow, fast, shs...)");
    cmd->add_flag("--json", options->json, "Print JSON instead of text");
    cmd->footer("Without --attack/--technique/--variation/--string/--option the search is the "
                "one players use (findSampleByMidi).");
    cmd->callback([options] { runFind(*options); });
}

} // namespace oxsf
