#pragma once

// Small builders shared by the sample tree tests.

#include <soundfont/SampleTree.h>

#include <memory>
#include <string>
#include <vector>

namespace treetest {

using namespace ox::soundfont;

/// A new sample record with the given midi, dynamic and string; the caller files it.
inline SampleTreeNodeSample* makeSample(int midi, int dynamic = 9, int string = -1) {
    auto* sample = new SampleTreeNodeSample;
    (*sample)[0] = string;
    (*sample)[1] = midi;
    (*sample)[2] = dynamic;
    return sample;
}

/// Files a new sample with the given midi at `node` and returns it.
inline SampleTreeNodeSample* fileSample(SampleTreeNode* node, int midi) {
    auto* sample = makeSample(midi);
    node->addSample(sample);
    return sample;
}

/// A fresh tree from `builder`, set up to search through it.
inline std::unique_ptr<SampleTree> builtTree(SampleTreeBuilder& builder) {
    std::unique_ptr<SampleTree> tree(builder());
    tree->setBuilder(&builder);
    return tree;
}

/// A request coordinate with the given articulation, midi and dynamic.
inline SampleCoordinate request(int attack, int technique, int variation, int midi,
                                int dynamic = 9) {
    SampleCoordinate coordinate;
    coordinate.initialize(attack, technique, variation);
    coordinate[1] = midi;
    coordinate[2] = dynamic;
    return coordinate;
}

/// attack, technique, variation, then the values [0] to [4].
inline std::vector<int> fields(const SampleCoordinate& c) {
    return {c.attack(), c.technique(), c.variation(), c[0], c[1], c[2], c[3], c[4]};
}

/// A Samples.xml document: root attributes `rootAttributes`, then a
/// SamplesTree holding `layers`.
inline std::string bankXml(const std::string& rootAttributes, const std::string& layers) {
    return "<?xml version=\"1.0\"?>\n<SoundFont " + rootAttributes +
           ">\n<SamplesTree class=\"top\">\n" + layers + "</SamplesTree>\n</SoundFont>\n";
}

} // namespace treetest
