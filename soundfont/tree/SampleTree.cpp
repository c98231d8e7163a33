#include <soundfont/SampleTree.h>

#include "tree/TreeSearch.h"

#include <array>
#include <map>
#include <utility>

namespace ox::soundfont {

// Member order matters: the root (and with it every node and sample) goes
// first, then the post-parse function, the name and the fallback registry.
struct SampleTree::Impl {
    SampleTreeBuilder* builder = nullptr;
    std::map<SampleTreeNode::Articulation, SampleTreeNode*> fallbacks;
    std::string name;
    PostParse postParse;
    std::unique_ptr<SampleTreeNode> root;
};

SampleTree::SampleTree(const std::string& name, SampleTreeNode* root) : d(new Impl) {
    d->name = name;
    d->root.reset(root);
}

SampleTree::~SampleTree() = default;

void SampleTree::setBuilder(SampleTreeBuilder* builder) {
    d->builder = builder;
}

SampleTreeBuilder* SampleTree::builder() const {
    return d->builder;
}

void SampleTree::setPostParse(PostParse function) {
    d->postParse = std::move(function);
}

const SampleTree::PostParse SampleTree::postParse() const {
    return d->postParse;
}

SampleTreeNode* SampleTree::root() const {
    return d->root.get();
}

const std::string& SampleTree::name() const {
    return d->name;
}

void SampleTree::addFallback(SampleTreeNode::Articulation articulation, SampleTreeNode* node) {
    d->fallbacks[articulation] = node;
}

SampleTreeNode* SampleTree::findFallback(SampleTreeNode::Articulation articulation) const {
    const auto found = d->fallbacks.find(articulation);
    return found != d->fallbacks.end() ? found->second : nullptr;
}

const SampleTreeNodeSample* SampleTree::findSample(const SampleCoordinate& coordinate) const {
    const SampleTreeNodeSample* result =
        d->builder != nullptr ? d->builder->findSample(this, coordinate) : nullptr;
    if (result != nullptr || !d->root) {
        return result;
    }
    // Without a builder (or when it missed) the coordinate's own articulation answers.
    const std::array<int, 3> path{coordinate.attack(), coordinate.technique(),
                                  coordinate.variation()};
    return treesearch::nearestSample(*d->root, coordinate, path);
}

const SampleTreeNodeSample* SampleTree::findSampleByMidi(const SampleCoordinate& coordinate) const {
    return findSampleByMidi(coordinate[SampleCoordinate::Midi],
                            coordinate[SampleCoordinate::Dynamic]);
}

const SampleTreeNodeSample* SampleTree::findSampleByMidi(int midi, int dynamic) const {
    return d->builder != nullptr ? d->builder->findSampleByMidi(this, midi, dynamic) : nullptr;
}

void SampleTree::getSamples(std::vector<SampleTreeNodeSample*>& out) const {
    if (d->root) {
        d->root->getSamples(out);
    }
}

int SampleTree::sampleCount() const {
    // The whole tree: the root itself never holds samples, so its own count
    // would always be 0 and tell the host nothing.
    return d->root ? static_cast<int>(d->root->recursiveSampleCount()) : 0;
}

} // namespace ox::soundfont
