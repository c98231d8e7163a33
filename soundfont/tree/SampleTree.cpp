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

SampleTree::SampleTree(const std::string& name, SampleTreeNode* root) : m_impl(new Impl) {
    m_impl->name = name;
    m_impl->root.reset(root);
}

SampleTree::~SampleTree() = default;

void SampleTree::setBuilder(SampleTreeBuilder* builder) {
    m_impl->builder = builder;
}

SampleTreeBuilder* SampleTree::builder() const {
    return m_impl->builder;
}

void SampleTree::setPostParse(PostParse function) {
    m_impl->postParse = std::move(function);
}

const SampleTree::PostParse SampleTree::postParse() const {
    return m_impl->postParse;
}

SampleTreeNode* SampleTree::root() const {
    return m_impl->root.get();
}

const std::string& SampleTree::name() const {
    return m_impl->name;
}

void SampleTree::addFallback(SampleTreeNode::Articulation articulation, SampleTreeNode* node) {
    m_impl->fallbacks[articulation] = node;
}

SampleTreeNode* SampleTree::findFallback(SampleTreeNode::Articulation articulation) const {
    const auto found = m_impl->fallbacks.find(articulation);
    return found != m_impl->fallbacks.end() ? found->second : nullptr;
}

const SampleTreeNodeSample* SampleTree::findSample(const SampleCoordinate& coordinate) const {
    const SampleTreeNodeSample* result =
        m_impl->builder != nullptr ? m_impl->builder->findSample(this, coordinate) : nullptr;
    if (result != nullptr || !m_impl->root) {
        return result;
    }
    // Without a builder (or when it missed) the coordinate's own articulation answers.
    const std::array<int, 3> path{coordinate.attack(), coordinate.technique(),
                                  coordinate.variation()};
    return treesearch::nearestSample(*m_impl->root, coordinate, path);
}

const SampleTreeNodeSample* SampleTree::findSampleByMidi(const SampleCoordinate& coordinate) const {
    return findSampleByMidi(coordinate[SampleCoordinate::Midi],
                            coordinate[SampleCoordinate::Dynamic]);
}

const SampleTreeNodeSample* SampleTree::findSampleByMidi(int midi, int dynamic) const {
    return m_impl->builder != nullptr ? m_impl->builder->findSampleByMidi(this, midi, dynamic) : nullptr;
}

void SampleTree::getSamples(std::vector<SampleTreeNodeSample*>& out) const {
    if (m_impl->root) {
        m_impl->root->getSamples(out);
    }
}

int SampleTree::sampleCount() const {
    // The whole tree: the root itself never holds samples, so its own count
    // would always be 0 and tell the host nothing.
    return m_impl->root ? static_cast<int>(m_impl->root->recursiveSampleCount()) : 0;
}

} // namespace ox::soundfont
