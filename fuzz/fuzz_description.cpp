// Bytes as a bank's Samples.xml: read it, build the sample tree, search it.
#include "FuzzSupport.h"

#include <soundfont/SampleTree.h>

#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    oxfuzz::MemoryBank bank(data, size);
    if (!oxfuzz::expectingDocumentedErrors([&] { bank.initialize(); })) {
        return 0;
    }
    ox::soundfont::SampleTree& tree = bank.sampleTree();
    for (int midi : {-1, 0, 40, 64, 127}) {
        tree.findSampleByMidi(midi, 10);
    }
    ox::soundfont::SampleCoordinate request;
    request.initialize(1, 0, 0);
    request[1] = 60;
    tree.findSample(request);
    request.initialize(2, 2, 6);
    tree.findSample(request);
    std::vector<ox::soundfont::SampleTreeNodeSample*> samples;
    tree.getSamples(samples);
    // Every filed sample, asked for by its own coordinate and by its pitch, walks
    // the node paths the document built.
    for (size_t i = 0; i < samples.size() && i < 32; ++i) {
        tree.findSample(*samples[i]);
        tree.findSampleByMidi(*samples[i]);
    }
    if (!samples.empty()) {
        bank.samplePlayer(60);
    }
    return 0;
}
