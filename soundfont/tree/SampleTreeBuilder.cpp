#include <soundfont/SampleTree.h>

#include "tree/TreeSearch.h"

#include <array>
#include <cstddef>

namespace ox::soundfont {

SampleTreeBuilder::SampleTreeBuilder() = default;

SampleTreeBuilder::~SampleTreeBuilder() = default;

const SampleTreeNodeSample* SampleTreeBuilder::findSample(const SampleTree* tree,
                                                          const SampleCoordinate& coordinate) {
    if (tree == nullptr || tree->root() == nullptr) {
        return nullptr;
    }
    const int attack = coordinate.attack();
    const int technique = coordinate.technique();

    // Attack 1 (finger, or brush when unpitched) is searched along variations
    // 2, 3 and 4 whatever variation was asked for; the others along their own.
    std::array<std::array<int, 3>, 3> paths{};
    std::size_t pathCount = 1;
    if (attack == 1) {
        paths = {{{attack, technique, 2}, {attack, technique, 3}, {attack, technique, 4}}};
        pathCount = 3;
    } else {
        paths[0] = {attack, technique, coordinate.variation()};
    }

    const SampleTreeNodeSample* best = nullptr;
    float bestDistance = 0.0f;
    for (std::size_t i = 0; i < pathCount; ++i) {
        const SampleTreeNodeSample* sample =
            treesearch::nearestSample(*tree->root(), coordinate, paths[i]);
        if (sample == nullptr) {
            continue;
        }
        const float distance = coordinate.distance(*sample);
        // Strictly smaller only: the earlier path wins ties.
        if (best == nullptr || distance < bestDistance) {
            best = sample;
            bestDistance = distance;
        }
    }
    return best;
}

SampleCoordinate SampleTreeBuilder::coordinate(int midi, int dynamic) {
    SampleCoordinate result;
    result.setAttack(0);
    result.setTechnique(0);
    result.setVariation(0);
    result[1] = midi;
    result[2] = dynamic;
    return result;
}

const SampleTreeNodeSample* SampleTreeBuilder::findSampleByMidi(const SampleTree* tree, int midi,
                                                                int dynamic) {
    const SampleCoordinate request = coordinate(midi, dynamic);
    return findSample(tree, request);
}

} // namespace ox::soundfont
