#include <soundfont/SampleTree.h>

#include "tree/TreeSearch.h"

#include <algorithm>
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
    return m_impl->builder != nullptr ? m_impl->builder->findSampleByMidi(this, midi, dynamic)
                                      : nullptr;
}

const SampleTreeNodeSample* SampleTree::findSampleForVelocity(int midi, int velocity) const {
    velocity = std::min(velocity, 127);
    const int dynamic = dynamicFromVelocity(velocity);
    const SampleTreeNodeSample* nearest = findSampleByMidi(midi, dynamic);
    // Without ranges every sample answers every velocity: the search by dynamic stands.
    if (nearest == nullptr || nearest->trigger.answers(velocity) || !m_impl->root) {
        return nearest;
    }
    // The same nodes as that search, choosing among their samples by range.
    const SampleCoordinate request = m_impl->builder->coordinate(midi, dynamic);
    const SampleTreeNodeSample* best = nullptr;
    float bestScore = 0.0f;
    for (const auto& path : SampleTreeBuilder::searchPaths(request)) {
        const SampleTreeNode* node = treesearch::answeringNode(*m_impl->root, path);
        float score = 0.0f;
        const SampleTreeNodeSample* sample =
            node ? treesearch::nearestForVelocity(*node, request, velocity, score) : nullptr;
        // Strictly smaller only: the earlier path wins ties.
        if (sample != nullptr && (best == nullptr || score < bestScore)) {
            best = sample;
            bestScore = score;
        }
    }
    return best != nullptr ? best : nearest;
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
