#include <soundfont/SampleTree.h>

#include "tree/TreeSearch.h"

namespace ox::soundfont {

SampleTreeBuilder::SampleTreeBuilder() = default;

SampleTreeBuilder::~SampleTreeBuilder() = default;

const SampleTreeNodeSample* SampleTreeBuilder::findSample(const SampleTree* tree,
                                                          const SampleCoordinate& coordinate) {
    if (tree == nullptr || tree->root() == nullptr) {
        return nullptr;
    }
    const SampleTreeNodeSample* best = nullptr;
    float bestDistance = 0.0f;
    for (const auto& path : searchPaths(coordinate)) {
        const SampleTreeNodeSample* sample =
            treesearch::nearestSample(*tree->root(), coordinate, path);
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

SampleTreeBuilder::SearchPaths SampleTreeBuilder::searchPaths(const SampleCoordinate& coordinate) {
    const int attack = coordinate.attack();
    const int technique = coordinate.technique();
    if (attack == 1) {
        return {{{{attack, technique, 2}, {attack, technique, 3}, {attack, technique, 4}}}, 3};
    }
    return {{{{attack, technique, coordinate.variation()}}}, 1};
}

SampleCoordinate SampleTreeBuilder::coordinate(int midi, int dynamic) {
    SampleCoordinate result;
    result.setAttack(0);
    result.setTechnique(0);
    result.setVariation(0);
    result[SampleCoordinate::Midi] = midi;
    result[SampleCoordinate::Dynamic] = dynamic;
    return result;
}

const SampleTreeNodeSample* SampleTreeBuilder::findSampleByMidi(const SampleTree* tree, int midi,
                                                                int dynamic) {
    const SampleCoordinate request = coordinate(midi, dynamic);
    return findSample(tree, request);
}

} // namespace ox::soundfont
