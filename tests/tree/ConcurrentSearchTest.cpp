// Several threads search one finished tree at once; run under ThreadSanitizer.

#include "TreeTestSupport.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace treetest;

TEST(ConcurrentSearch, ThreadsAgreeWithASequentialSearch) {
    PitchedSampleTreeBuilder builder;
    const auto tree = builtTree(builder);
    SampleTreeNode* root = tree->root();
    for (int midi = 40; midi < 80; midi += 2) {
        root->child(0, 0, 1)->addSample(makeSample(midi, 9 + midi % 3, midi % 6));
        root->child(1, 0, 3)->addSample(makeSample(midi + 1, 10, midi % 6));
    }

    std::vector<const SampleTreeNodeSample*> expected;
    for (int midi = 0; midi < 128; ++midi) {
        expected.push_back(tree->findSampleByMidi(midi, 10));
        expected.push_back(tree->findSample(request(1, 0, midi % 5, midi)));
    }

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                for (int midi = 0; midi < 128; ++midi) {
                    mismatches[t] += tree->findSampleByMidi(midi, 10) != expected[2 * midi];
                    mismatches[t] +=
                        tree->findSample(request(1, 0, midi % 5, midi)) != expected[2 * midi + 1];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}
