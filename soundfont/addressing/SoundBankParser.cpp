#include <soundfont/NoteOption.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundBankParser.h>
#include <soundfont/SoundFont.h>
#include <soundfont/Soundworld.h>

#include "catalogue/SoundFontImpl.h"

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ox::soundfont {

namespace {

using Converter = std::function<int(const std::string&)>;
using LayerConverter = int (*)(const std::string&);
using LayerConverters = std::array<LayerConverter, 3>;

// Process-wide: the builders serve every tree of their kind and must outlive
// them all (trees keep plain pointers to them).
struct Registry {
    std::map<std::string, std::unique_ptr<SampleTreeBuilder>> builders;
    std::map<std::string, Converter> attributeConverters;
};

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The dynamics scale, "NONE" = 0 to "FFFFFFF" = 16, matched regardless of
// case; anything else is "NONE".
int dynamicFromString(const std::string& text) {
    for (int value = 0; value < kDynamicCount; ++value) {
        if (sameIgnoringAsciiCase(text, dynamicName(value))) {
            return value;
        }
    }
    return 0;
}

Registry& registry() {
    static Registry instance;
    return instance;
}

// Fills the registry on the first construction of a parser; a once-guard so
// that two threads constructing the first parsers together cannot race.
void fillRegistry() {
    static std::once_flag once;
    std::call_once(once, [] {
        Registry& r = registry();
        r.attributeConverters["dynamic"] = dynamicFromString;
        r.attributeConverters["option"] = NoteOption::stringToInt;
        r.builders["pitched"] = std::make_unique<PitchedSampleTreeBuilder>();
        r.builders["unpitched"] = std::make_unique<UnpitchedSampleTreeBuilder>();
    });
}

const std::set<std::string>& unpitchedTypes() {
    static const std::set<std::string> types{
        "unpitched",  "idiophone",  "agogo",         "bellTree",    "bongo",      "cabasa",
        "castanets",  "claves",     "cowbell",       "guiro",       "piatti",     "handClap",
        "jingleBell", "maraca",     "reverseCymbal", "shaker",      "tinkelBell", "triangle",
        "vibraslap",  "whistle",    "woodblock",     "cymbal",      "china",      "crash",
        "hiHat",      "ride",       "splash",        "membraphone", "conga",      "cuica",
        "grancassa",  "melodicTom", "surdo",         "synthDrum",   "taikoDrum",  "tambourine",
        "timbale",    "drum",       "kickDrum",      "snare",       "tom"};
    return types;
}

// Layer-name converters by depth: attack, technique, variation.
const LayerConverters& layerConverters(const std::string& kind) {
    static const LayerConverters pitched{
        [](const std::string& s) -> int { return PitchedSoundworld::attackFromString(s); },
        [](const std::string& s) -> int { return PitchedSoundworld::techniqueFromString(s); },
        [](const std::string& s) -> int { return PitchedSoundworld::variationFromString(s); }};
    static const LayerConverters unpitched{
        [](const std::string& s) -> int { return UnpitchedSoundworld::attackFromString(s); },
        [](const std::string& s) -> int { return UnpitchedSoundworld::techniqueFromString(s); },
        [](const std::string& s) -> int { return UnpitchedSoundworld::variationFromString(s); }};
    return kind == "unpitched" ? unpitched : pitched;
}

std::string kindOf(const SoundFont& bank) {
    return unpitchedTypes().count(bank.type()) > 0 ? "unpitched" : "pitched";
}

// The envelope travels with the sample as corrections, so that a player finds
// it from the searched sample alone.
void setEnvelope(SampleTreeNodeSample& sample, const ox::audio::Envelope& envelope) {
    using ox::audio::SoundCorrection;
    sample.setCorrection(SoundCorrection::AmpDelay, envelope.delay);
    sample.setCorrection(SoundCorrection::AmpAttack, envelope.attack);
    sample.setCorrection(SoundCorrection::AmpHold, envelope.hold);
    sample.setCorrection(SoundCorrection::AmpDecay, envelope.decay);
    sample.setCorrection(SoundCorrection::AmpSustain, envelope.sustain);
    sample.setCorrection(SoundCorrection::AmpRelease, envelope.release);
}

// What a player of `record` takes from one of its Waves (or from a Layer,
// which is read as a Wave): its file under its pickup and its corrections.
void applyWave(SampleTreeNodeSample& record, const Wav& w) {
    record.files[w.pickup] = w.file;
    record.setCorrection(ox::audio::SoundCorrection::Ratio, w.ratio);
    record.setCorrection(ox::audio::SoundCorrection::Repitch, w.repitch * 0.01f);
    if (w.envelope) {
        setEnvelope(record, *w.envelope);
    }
    if (w.shape) {
        record.shape = w.shape;
    }
}

// A layer sounds with its sample: it carries the sample's coordinate, and its
// sample's group unless it names its own.
SampleTreeNodeSample layerRecord(const SampleTreeNodeSample& sample, const SampleLayer& layer) {
    SampleTreeNodeSample record;
    for (int i = 0; i < int(sample.size()); ++i) {
        record[i] = sample[i];
    }
    applyWave(record, layer.wave);
    record.trigger = layer.trigger;
    if (record.trigger.chokeGroup == 0) {
        record.trigger.chokeGroup = sample.trigger.chokeGroup;
    }
    record.gain = layer.wave.gain;
    return record;
}

void fileSamples(const std::vector<Sample>& samples, SampleTreeNode* node) {
    const Registry& r = registry();
    const Converter& option = r.attributeConverters.at("option");
    const Converter& dynamic = r.attributeConverters.at("dynamic");
    for (const Sample& s : samples) {
        auto record = std::make_unique<SampleTreeNodeSample>();
        // The description counts strings from 1; 0 and -1 both mean none.
        (*record)[SampleCoordinate::String] = s.string == -1 ? -1 : s.string - 1;
        (*record)[SampleCoordinate::Midi] = s.midi;
        (*record)[SampleCoordinate::Option] = option(s.option);
        (*record)[SampleCoordinate::Dynamic] = dynamic(s.dynamic);
        for (const Wav& w : s.wavs) {
            applyWave(*record, w);
        }
        record->trigger = s.trigger;
        SampleTreeNodeSample* filed = record.get();
        node->addSample(record.release());
        // After filing, so that the layers take the articulation of the node.
        filed->layers.reserve(s.layers.size());
        for (const SampleLayer& layer : s.layers) {
            SampleTreeNodeSample& added = filed->layers.emplace_back(layerRecord(*filed, layer));
            added.initialize(filed->attack(), filed->technique(), filed->variation());
        }
    }
    node->sortSamples();
}

// Walks the layers below `layer` down the tree; a layer whose name finds no
// node is skipped with its samples and sub-layers. Layers below the variation
// level mean nothing and are ignored.
void walkLayers(const Layer& layer, SampleTreeNode* node, const std::string& kind,
                std::size_t depth) {
    const LayerConverters& converters = layerConverters(kind);
    if (depth >= converters.size()) {
        return;
    }
    for (const Layer& c : layer.layers) {
        const std::vector<int> path{converters[depth](c.className)};
        SampleTreeNode* child = node->findNode(path);
        if (child == nullptr) {
            continue;
        }
        walkLayers(c, child, kind, depth + 1);
        fileSamples(c.samples, child);
    }
}

} // namespace

struct SoundBankParser::Impl {
    std::unique_ptr<SampleTree> tree;
};

SoundBankParser::SoundBankParser() : m_impl(new Impl) {
    fillRegistry();
}

SoundBankParser::~SoundBankParser() = default;

void SoundBankParser::parse(const SoundFont& bank) {
    const std::string kind = kindOf(bank);
    SampleTreeBuilder* builder = registry().builders.at(kind).get();
    m_impl->tree.reset((*builder)());
    m_impl->tree->setBuilder(builder);
    walkLayers(bank.layer(), m_impl->tree->root(), kind, 0);
    if (const SampleTree::PostParse postParse = m_impl->tree->postParse()) {
        postParse(m_impl->tree.get(), bank);
    }
}

SampleTree* SoundBankParser::takeSampleTree() {
    return m_impl->tree.release();
}

const SampleTreeBuilder* SoundBankParser::builder(const std::string& kind) const {
    const auto& builders = registry().builders;
    const auto found = builders.find(kind);
    return found != builders.end() ? found->second.get() : nullptr;
}

SampleTree& SoundFont::sampleTree() const {
    if (!m_impl->tree) {
        SoundBankParser parser;
        parser.parse(*this);
        m_impl->tree.reset(parser.takeSampleTree());
    }
    return *m_impl->tree;
}

} // namespace ox::soundfont
