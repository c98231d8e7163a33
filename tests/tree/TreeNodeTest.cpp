#include "TreeTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace treetest;

namespace {

// root(0) -> 1 -> {2 -> {3, 4}, 5}, and a second 1 -> 6 that child() must never reach.
struct SmallTree {
    SampleTreeNode root{0};
    SampleTreeNode* a = root.addChild(1);
    SampleTreeNode* b = a->addChild(2);
    SampleTreeNode* c = b->addChild(3);
    SampleTreeNode* d = b->addChild(4);
    SampleTreeNode* e = a->addChild(5);
    SampleTreeNode* shadow = root.addChild(1);
    SampleTreeNode* shadowChild = shadow->addChild(6);
};

} // namespace

TEST(SampleTreeNode, FilingTakesTheArticulationFromThePlace) {
    SmallTree t;
    auto* onRoot = makeSample(60);
    onRoot->initialize(7, 7, 7);
    t.root.addSample(onRoot);
    EXPECT_EQ(t.root.sampleCount(), 0u);
    EXPECT_EQ(onRoot->attack(), 7); // untouched, and still ours
    delete onRoot;

    auto* deep = makeSample(60);
    auto* middle = makeSample(60);
    deep->initialize(9, 9, 9);
    middle->initialize(9, 9, 9);
    t.c->addSample(deep);
    t.b->addSample(middle);
    EXPECT_EQ(fields(*deep), (std::vector<int>{1, 2, 3, -1, 60, 9, 0, -1}));
    EXPECT_EQ(fields(*middle), (std::vector<int>{1, 2, 9, -1, 60, 9, 0, -1})); // below: unchanged
    EXPECT_EQ(t.root.recursiveSampleCount(), 2u);
}

TEST(SampleTreeNode, ChildAndFindNodeFollowFirstMatchesOnly) {
    SmallTree t;
    EXPECT_EQ(t.root.child(1), t.a);
    EXPECT_EQ(t.root.child(1, 2), t.b);
    EXPECT_EQ(t.root.child(1, 6), nullptr); // the later node 1 is not tried
    EXPECT_EQ(t.root.child(1, -1, -1), t.a);
    EXPECT_EQ(t.root.child(1, -1, 5), t.e);
    EXPECT_EQ(t.root.child(1, 2, 4), t.d);
    EXPECT_EQ(t.root.child(1, 2, 9), nullptr);
    EXPECT_EQ(t.root.child(8, -1, -1), nullptr);

    // findNode goes as deep as the path matches.
    EXPECT_EQ(t.root.findNode({}), nullptr);
    EXPECT_EQ(t.root.findNode({8}), nullptr);
    EXPECT_EQ(t.root.findNode({1, 2, 9}), t.b);
    EXPECT_EQ(t.root.findNode({1, 2, 4}), t.d);
    EXPECT_EQ(t.root.findNode({1, 6}), t.a);
}

TEST(SampleTreeNode, NearestSampleIsStrictAndStaysAtTheAddressedNode) {
    SmallTree t;
    auto* first = fileSample(t.c, 60);
    auto* twin = fileSample(t.c, 64); // same distance to 62 as `first`
    t.c->sortSamples();
    EXPECT_EQ(t.c->findSample(request(-1, -1, -1, 62)), first);
    EXPECT_EQ(t.c->findSample(request(-1, -1, -1, 63)), twin);

    fileSample(t.d, 62);
    // Node 3 answers however far its samples are.
    EXPECT_EQ(t.root.findSample(request(-1, -1, -1, 62), {1, 2, 3}), first);
    EXPECT_EQ(t.root.findSample(request(-1, -1, -1, 62), {8, 2, 3}), nullptr);
}

TEST(SampleTreeNode, ClimbPrefersDescendantsThenSiblingsThenTheRest) {
    SampleTreeNode root(0);
    SampleTreeNode* x = root.addChild(0);
    SampleTreeNode* yv = root.addChild(1)->addChild(0)->addChild(0);
    SampleTreeNode* xaDeep = x->addChild(0)->addChild(0);
    SampleTreeNode* xb = x->addChild(1);
    SampleTreeNode* xc = x->addChild(2);
    const SampleCoordinate c = request(-1, -1, -1, 60);

    auto* far = fileSample(yv, 100);
    // Everything under attack 0 empty: the climb reaches the root and the other attack.
    EXPECT_EQ(root.findSample(c, {0, 0, 0}), far);
    // A one-id path does not climb.
    EXPECT_EQ(root.findSample(c, {0}), nullptr);

    auto* sibling2 = fileSample(xc, 100);
    auto* sibling1 = fileSample(xb, 40);
    EXPECT_EQ(root.findSample(c, {0, 0}), sibling1); // first sibling in child order wins
    EXPECT_EQ(root.findSample(c, {0, 2}), sibling2); // the addressed node itself

    auto* descendant = fileSample(xaDeep, 10);
    EXPECT_EQ(root.findSample(c, {0, 0}), descendant); // below the addressed node first

    EXPECT_EQ(root.findRandomSample(), descendant); // pre-order, deterministic
    std::vector<SampleTreeNodeSample*> all{nullptr};
    root.getSamples(all); // appends
    EXPECT_EQ(all,
              (std::vector<SampleTreeNodeSample*>{nullptr, descendant, sibling1, sibling2, far}));
}

TEST(SampleTreeNode, ClimbStaysCorrectInTreesWiderThanItsBookkeeping) {
    // 200 empty subtrees before the one holding a sample, so the climb marks
    // far more searched nodes than any built-in layout has.
    SampleTreeNode root(0);
    for (int i = 0; i < 200; ++i) {
        root.addChild(i)->addChild(0)->addChild(0);
    }
    auto* sample = fileSample(root.addChild(200)->addChild(0), 60);
    EXPECT_EQ(root.findSample(request(-1, -1, -1, 60), {0, 0, 0}), sample);
    EXPECT_EQ(root.findSample(request(-1, -1, -1, 60), {150, 0, 0}), sample);

    SampleTreeNode empty(0);
    for (int i = 0; i < 100; ++i) {
        empty.addChild(i)->addChild(i);
    }
    EXPECT_EQ(empty.findSample(request(-1, -1, -1, 60), {3, 3, 3}), nullptr);
}

TEST(SampleTreeNode, NearestSampleAgreesWithAPlainScanOnRandomNodes) {
    // The batched node search must pick what a plain strict scan with
    // SampleCoordinate::distance picks. Small value ranges make ties common.
    unsigned seed = 12345;
    auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % unsigned(range));
    };
    auto plainScan = [](const SampleTreeNode& node, const SampleCoordinate& request) {
        const SampleTreeNodeSample* best = nullptr;
        float bestDistance = 0.0f;
        for (const auto& sample : node.samples()) {
            const float d = request.distance(*sample);
            if (best == nullptr || d < bestDistance) {
                best = sample.get();
                bestDistance = d;
            }
        }
        return best;
    };
    auto randomCoordinate = [&](SampleCoordinate& c) {
        c[0] = next(8) - 1; // strings -1..6
        c[1] = 38 + next(12);
        c[2] = next(5) + 8;
        c[3] = next(3);
        c[4] = next(7) - 1;  // frets -1..5
        if (next(50) == 0) { // now and then values far out, where arithmetic wraps
            c[next(5)] = next(2) ? INT32_MAX - next(3) : INT32_MIN + next(3);
        }
    };
    for (int round = 0; round < 300; ++round) {
        SampleTreeNode root(0);
        SampleTreeNode* node = root.addChild(0);
        const int count = next(40);
        for (int i = 0; i < count; ++i) {
            auto* sample = new SampleTreeNodeSample;
            randomCoordinate(*sample);
            node->addSample(sample);
        }
        for (int query = 0; query < 20; ++query) {
            SampleCoordinate request;
            randomCoordinate(request);
            ASSERT_EQ(node->findSample(request), plainScan(*node, request))
                << "round " << round << " query " << query;
        }
    }
}
