#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>
#include <soundfont/Soundworld.h>

#include "tree/TreeLayout.h"

#include <algorithm>
#include <map>
#include <vector>

namespace ox::soundfont {

namespace {

using treelayout::addTechnique;
using PS = PitchedSoundworld;

// Semitones by which a natural harmonic sounds above its open string. 4:5 has
// no entry: those samples keep the pitch they were filed with.
const std::map<int, int>& harmonicOffsets() {
    static const std::map<int, int> offsets{
        {PS::Fifth, 24}, {PS::Seventh, 19}, {PS::Ninth, 28}, {PS::Twelfth, 12}};
    return offsets;
}

// The open-string pitch of `sample`'s string, or null when the tuning has none.
const int* openString(const std::vector<int>& tuning, const SampleTreeNodeSample& sample) {
    const int string = sample[SampleCoordinate::String];
    if (string < 0 || static_cast<std::size_t>(string) >= tuning.size()) {
        return nullptr;
    }
    return &tuning[static_cast<std::size_t>(string)];
}

} // namespace

struct PitchedSampleTreeBuilder::Impl {
    // Completes the filed samples from the bank's tuning: every sample gets
    // its fret, and natural harmonics get the pitch they sound and dynamic 7.
    // A sample whose string has no open-string pitch (no string, a string
    // beyond the tuning, or no tuning at all) keeps fret and pitch as filed; a
    // harmonic one still gets dynamic 7, like every other harmonic with files.
    void applyTuning(SampleTree* tree, const SoundFont& bank) const {
        const std::vector<int> tuning = bank.tuning();
        std::vector<SampleTreeNodeSample*> samples;
        tree->getSamples(samples);
        std::erase(samples, nullptr);

        if (!tuning.empty()) {
            for (SampleTreeNodeSample* sample : samples) {
                if (const int* open = openString(tuning, *sample)) {
                    (*sample)[SampleCoordinate::Fret] = (*sample)[SampleCoordinate::Midi] - *open;
                }
            }
        }

        for (SampleTreeNodeSample* sample : samples) {
            if (sample->attack() != PS::Harmonic || sample->files.empty()) {
                continue;
            }
            const int* open = openString(tuning, *sample);
            const auto offset = harmonicOffsets().find(sample->variation());
            if (open != nullptr && offset != harmonicOffsets().end()) {
                (*sample)[SampleCoordinate::Midi] = *open + offset->second;
            }
            (*sample)[SampleCoordinate::Dynamic] = 7;
        }
    }
};

PitchedSampleTreeBuilder::PitchedSampleTreeBuilder() : m_impl(new Impl) {}

PitchedSampleTreeBuilder::~PitchedSampleTreeBuilder() = default;

SampleTree* PitchedSampleTreeBuilder::operator()() const {
    auto root = std::make_unique<SampleTreeNode>(0);

    addTechnique(root->addChild(PS::Pick), PS::Sustain, {PS::Down, PS::Up});
    SampleTreeNode* finger = root->addChild(PS::Finger);
    addTechnique(finger, PS::Sustain, {PS::Index, PS::Thumb, PS::Middle});
    addTechnique(finger, PS::Pizzicato, {});
    addTechnique(root->addChild(PS::Harmonic), PS::Natural,
                 {PS::Fifth, PS::Seventh, PS::Ninth, PS::Twelfth, PS::FourFive});
    addTechnique(root->addChild(PS::Pop), PS::Sustain, {PS::VariationA, PS::VariationB});
    addTechnique(root->addChild(PS::Slap), PS::Sustain, {PS::VariationA, PS::VariationB});
    addTechnique(root->addChild(PS::Key), PS::Sustain, {});
    addTechnique(root->addChild(PS::Blow), PS::Sustain, {PS::NoVibrato});
    addTechnique(root->addChild(PS::Bow), PS::Sustain, {PS::NoVibrato});
    addTechnique(root->addChild(PS::Mallet), PS::HitTechnique, {PS::HitVariation});

    auto* tree = new SampleTree("pitched", root.release());
    // The builder lives in the parser's registry and so outlives every tree.
    tree->setPostParse([impl = m_impl.get()](SampleTree* filled, const SoundFont& bank) {
        impl->applyTuning(filled, bank);
    });
    return tree;
}

const SampleTreeNodeSample*
PitchedSampleTreeBuilder::findSample(const SampleTree* tree, const SampleCoordinate& coordinate) {
    // The base result stands: a last fallback would look for a harmonic
    // technique 1, which this layout does not have, and the base climb already
    // reaches the natural harmonics.
    return SampleTreeBuilder::findSample(tree, coordinate);
}

SampleCoordinate PitchedSampleTreeBuilder::coordinate(int midi, int dynamic) {
    SampleCoordinate result = SampleTreeBuilder::coordinate(midi, dynamic);
    result[SampleCoordinate::String] = 0;
    result[SampleCoordinate::Fret] = midi - 40;
    return result;
}

} // namespace ox::soundfont
