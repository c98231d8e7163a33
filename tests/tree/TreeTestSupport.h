#pragma once

// Small builders shared by the sample tree tests.

#include <soundfont/SampleTree.h>

#include <memory>
#include <string>

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

/// A request coordinate with the given articulation, midi and dynamic.
inline SampleCoordinate request(int attack, int technique, int variation, int midi,
                                int dynamic = 9) {
    SampleCoordinate coordinate;
    coordinate.initialize(attack, technique, variation);
    coordinate[1] = midi;
    coordinate[2] = dynamic;
    return coordinate;
}

/// A Samples.xml document: root attributes `rootAttributes`, then a
/// SamplesTree holding `layers`.
inline std::string bankXml(const std::string& rootAttributes, const std::string& layers) {
    return "<?xml version=\"1.0\"?>\n<SoundFont " + rootAttributes +
           ">\n<SamplesTree class=\"top\">\n" + layers + "</SamplesTree>\n</SoundFont>\n";
}

} // namespace treetest
