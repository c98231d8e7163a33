// Searching a finished tree must not touch the heap (it runs on audio threads):
// this binary counts every global allocation while it searches a filled tree.

#include "TreeTestSupport.h"
#include "support/CountingAllocations.h"

#include <gtest/gtest.h>

using namespace treetest;

TEST(SearchAllocation, FindingSamplesAllocatesNothing) {
    PitchedSampleTreeBuilder pitched;
    UnpitchedSampleTreeBuilder unpitched;
    SampleTreeBuilder* builders[] = {&pitched, &unpitched};
    for (SampleTreeBuilder* builder : builders) {
        const long beforeLayout = oxtest::allocationCount.load();
        const auto tree = builtTree(*builder);
        // The library's own allocations reach the counting functions too.
        ASSERT_GT(oxtest::allocationCount.load(), beforeLayout);
        SampleTreeNode* root = tree->root();
        // Samples at the far end of the layout, so most requests climb.
        SampleTreeNode* last = root->children().back()->children().back().get();
        for (int midi = 30; midi < 90; midi += 3) {
            auto* sample = makeSample(midi, 9, 0);
            sample->files["neck"] = "note.ogg";
            last->addSample(sample);
        }
        root->child(1, 0)->children().back()->addSample(makeSample(60));

        const std::vector<int> path{0, 0, 0};
        const SampleCoordinate requests[] = {request(0, 0, 0, 60),  request(1, 0, 0, 61),
                                             request(1, 0, 13, 62), request(8, 3, 13, 50),
                                             request(0, 0, 3, 40),  request(-1, 0, 0, 40)};
        long found = 0;
        const long before = oxtest::allocationCount.load();
        for (int round = 0; round < 50; ++round) {
            for (const SampleCoordinate& c : requests) {
                found += tree->findSample(c) != nullptr;
            }
            for (int midi = 20; midi < 100; ++midi) {
                found += tree->findSampleByMidi(midi, 10) != nullptr;
            }
            found += tree->findSampleByMidi(requests[0]) != nullptr;
            found += root->findSample(requests[0], path) != nullptr;
        }
        EXPECT_EQ(oxtest::allocationCount.load() - before, 0) << tree->name();
        EXPECT_EQ(found, 50 * (5 + 80 + 2)) << tree->name();
    }
}
