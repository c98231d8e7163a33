#include "TreeTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace treetest;

namespace {

/// The layout below `node` as "id(child child ...)".
std::string layout(const SampleTreeNode& node) {
    std::string out = std::to_string(node.id());
    for (const auto& child : node.children()) {
        out += (&child == &node.children().front() ? "(" : " ") + layout(*child);
    }
    return node.childrenCount() ? out + ")" : out;
}

} // namespace

TEST(SampleTree, WithoutBuilderAnswersThroughTheRoot) {
    auto* root = new SampleTreeNode(0);
    auto* sample = fileSample(root->addChild(2)->addChild(0)->addChild(5), 60);
    SampleTree tree("hand-made", root);
    EXPECT_EQ(tree.findSampleByMidi(60, 9), nullptr);
    EXPECT_EQ(tree.findSampleByMidi(request(2, 0, 5, 60)), nullptr);
    EXPECT_EQ(tree.findSample(request(2, 0, 5, 61)), sample);
    EXPECT_EQ(tree.findSample(request(3, 0, 5, 61)), nullptr);
    EXPECT_EQ(tree.sampleCount(), 1);

    SampleTree empty("none", nullptr);
    EXPECT_EQ(empty.findSample(request(0, 0, 0, 60)), nullptr);
    EXPECT_EQ(empty.sampleCount(), 0);
}

TEST(Builders, LayoutsAndMidiCoordinates) {
    // The searches rely on these places and on the order of the children.
    PitchedSampleTreeBuilder pitched;
    std::unique_ptr<SampleTree> tree(pitched());
    EXPECT_EQ(layout(*tree->root()),
              "0(0(0(0 1)) 1(0(2 3 4) 1) 2(2(5 6 7 8 9)) 3(0(10 11)) 4(0(10 11)) 5(0) 6(0(12)) "
              "7(0(12)) 8(3(13)))");
    EXPECT_EQ(fields(pitched.coordinate(64, 10)), (std::vector<int>{0, 0, 0, 0, 64, 10, 0, 24}));

    UnpitchedSampleTreeBuilder unpitched;
    tree.reset(unpitched());
    EXPECT_EQ(layout(*tree->root()),
              "1(0(0(0 2 5 6 7 8 9 10 11 13 14 15 16 18) 1(2)) 1(0(0 5 6 7 8 9 10 11 13)) "
              "2(0(0 5 6 7 8 9 10 11 13)) 3(0(0 1)) 4(0(0)) 5(0(0 12 13 2 3 4)) 6(0(17)) "
              "7(0(17)) 8(0(0)))");
    EXPECT_EQ(fields(unpitched.coordinate(38, 9)), (std::vector<int>{0, 0, 0, -1, 38, 9, 0, -1}));
}

TEST(BuilderSearch, AttackOneSearchesVariationsTwoToFourWithEarlierPathWinningTies) {
    PitchedSampleTreeBuilder builder;
    const auto tree = builtTree(builder);
    SampleTreeNode* root = tree->root();
    auto* thumb = fileSample(root->child(1, 0, 3), 58);
    auto* middle = fileSample(root->child(1, 0, 4), 62);
    // Variation 0 is not a finger node here, and the request's variation is never used.
    EXPECT_EQ(tree->findSample(request(1, 0, 0, 60)), thumb);
    EXPECT_EQ(tree->findSample(request(1, 0, 4, 61)), middle);

    auto* index = fileSample(root->child(1, 0, 2), 62);
    EXPECT_EQ(tree->findSample(request(1, 0, 4, 60)), index); // ties: 2 before 3 before 4

    // An attack that is not in the tree finds nothing; the default coordinate has attack -1.
    EXPECT_EQ(tree->findSample(SampleCoordinate()), nullptr);

    // With pick empty, a pick request climbs to the first filled node: finger/sustain/index.
    EXPECT_EQ(tree->findSampleByMidi(62, 9), index);
}

TEST(BuilderSearch, EmptyVariationAnswersFromFirstSiblingInChildOrder) {
    UnpitchedSampleTreeBuilder builder;
    const auto tree = builtTree(builder);
    SampleTreeNode* root = tree->root();
    auto* brushHit = fileSample(root->child(1, 0, 0), 38);
    fileSample(root->child(1, 0, 13), 40);
    EXPECT_EQ(tree->findSample(request(1, 0, 13, 40)), brushHit);

    auto* stickMid = fileSample(root->child(0, 0, 7), 50);
    fileSample(root->child(0, 0, 13), 38);
    // stick/hit has no handhit: the walk stops at stick/hit and the first
    // non-empty variation answers even though a later one is nearer.
    EXPECT_EQ(tree->findSample(request(0, 0, 3, 38)), stickMid);
    EXPECT_EQ(tree->findSampleByMidi(38, 9), stickMid);

    auto* handHit = fileSample(root->child(5, 0, 3), 60);
    EXPECT_EQ(tree->findSample(request(5, 0, 3, 38)), handHit);
}
