#include <soundfont/SampleTree.h>

#include "tree/TreeSearch.h"

#include <tuple>
#include <utility>

namespace ox::soundfont {

// --- SampleTreeNodeSample ---------------------------------------------------

SampleTreeNodeSample::SampleTreeNodeSample() = default;

SampleTreeNodeSample::SampleTreeNodeSample(const SampleTreeNodeSample& other)
    : SampleCoordinate(other), sortKey(other.sortKey), files(other.files), trigger(other.trigger),
      gain(other.gain), shape(other.shape), layers(other.layers) {}

SampleTreeNodeSample::SampleTreeNodeSample(SampleTreeNodeSample&& other) noexcept
    : SampleCoordinate(other), sortKey(other.sortKey), files(std::move(other.files)),
      trigger(other.trigger), gain(other.gain), shape(std::move(other.shape)),
      layers(std::move(other.layers)) {
    other.files.clear();
    other.layers.clear();
}

SampleTreeNodeSample& SampleTreeNodeSample::operator=(const SampleTreeNodeSample& other) {
    if (this != &other) {
        SampleCoordinate::operator=(other);
        sortKey = other.sortKey;
        files.clear();
        files = other.files;
        trigger = other.trigger;
        gain = other.gain;
        shape = other.shape;
        layers = other.layers;
    }
    return *this;
}

SampleTreeNodeSample& SampleTreeNodeSample::operator=(SampleTreeNodeSample&& other) noexcept {
    if (this != &other) {
        SampleCoordinate::operator=(other);
        sortKey = other.sortKey;
        files.clear();
        files.swap(other.files);
        trigger = other.trigger;
        gain = other.gain;
        shape = std::move(other.shape);
        layers.clear();
        layers.swap(other.layers);
    }
    return *this;
}

SampleTreeNodeSample::~SampleTreeNodeSample() = default;

// --- SampleTreeNode ---------------------------------------------------------

bool SampleTreeNode::Articulation::operator<(const Articulation& other) const {
    return std::tie(attack, technique, variation) <
           std::tie(other.attack, other.technique, other.variation);
}

// Member order matters: samples are destroyed before children.
struct SampleTreeNode::Impl {
    int id = 0;
    std::vector<std::unique_ptr<SampleTreeNode>> children;
    SampleTreeNode* parent = nullptr;
    std::vector<std::unique_ptr<SampleTreeNodeSample>> samples;
};

SampleTreeNode::SampleTreeNode(int id) : m_impl(new Impl) {
    m_impl->id = id;
}

SampleTreeNode::~SampleTreeNode() = default;

SampleTreeNode* SampleTreeNode::addChild(int id) {
    auto* node = new SampleTreeNode(id);
    addChild(id, node);
    return node;
}

void SampleTreeNode::addChild(int id, SampleTreeNode* node) {
    if (node == nullptr) {
        return; // every child must be a real node: the searches read them all
    }
    std::unique_ptr<SampleTreeNode> owned(node);
    owned->m_impl->id = id;
    owned->m_impl->parent = this;
    m_impl->children.push_back(std::move(owned));
}

void SampleTreeNode::addSample(SampleTreeNodeSample* sample) {
    // The root stands for no articulation, so nothing can be filed there; the
    // sample stays with the caller.
    if (m_impl->parent == nullptr || sample == nullptr) {
        return;
    }
    std::unique_ptr<SampleTreeNodeSample> owned(sample);
    // Depth of this node below the root, then its ancestors from the top down.
    int depth = 0;
    for (const SampleTreeNode* node = this; node->m_impl->parent != nullptr;
         node = node->m_impl->parent) {
        ++depth;
    }
    int level = depth - 1;
    for (const SampleTreeNode* node = this; node->m_impl->parent != nullptr;
         node = node->m_impl->parent, --level) {
        if (level == 0) {
            owned->setAttack(node->m_impl->id);
        } else if (level == 1) {
            owned->setTechnique(node->m_impl->id);
        } else if (level == 2) {
            owned->setVariation(node->m_impl->id);
        }
    }
    m_impl->samples.push_back(std::move(owned));
}

SampleTreeNode* SampleTreeNode::child(int id) const {
    for (const auto& node : m_impl->children) {
        if (node->m_impl->id == id) {
            return node.get();
        }
    }
    return nullptr;
}

SampleTreeNode* SampleTreeNode::child(int a, int b) const {
    SampleTreeNode* first = child(a);
    if (first == nullptr || b < 0) {
        return first;
    }
    return first->child(b);
}

SampleTreeNode* SampleTreeNode::child(int a, int b, int c) const {
    SampleTreeNode* node = child(a);
    if (node != nullptr && b >= 0) {
        node = node->child(b);
    }
    if (node == nullptr || c < 0) {
        return node;
    }
    return node->child(c);
}

const std::vector<std::unique_ptr<SampleTreeNode>>& SampleTreeNode::children() const {
    return m_impl->children;
}

unsigned int SampleTreeNode::childrenCount() const {
    return static_cast<unsigned int>(m_impl->children.size());
}

SampleTreeNode* SampleTreeNode::findNode(const std::vector<int>& path) const {
    return treesearch::findNode(*this, path);
}

const SampleTreeNodeSample* SampleTreeNode::findSample(const SampleCoordinate& coordinate) const {
    return treesearch::nearestOwnSample(*this, coordinate);
}

const SampleTreeNodeSample* SampleTreeNode::findSample(const SampleCoordinate& coordinate,
                                                       const std::vector<int>& path) {
    return treesearch::nearestSample(*this, coordinate, path);
}

const SampleTreeNodeSample* SampleTreeNode::findRandomSample() {
    if (!m_impl->samples.empty()) {
        return m_impl->samples.front().get();
    }
    for (const auto& node : m_impl->children) {
        if (const SampleTreeNodeSample* sample = node->findRandomSample()) {
            return sample;
        }
    }
    return nullptr;
}

void SampleTreeNode::getSamples(std::vector<SampleTreeNodeSample*>& out) {
    for (const auto& sample : m_impl->samples) {
        out.push_back(sample.get());
    }
    for (const auto& node : m_impl->children) {
        node->getSamples(out);
    }
}

int SampleTreeNode::id() const {
    return m_impl->id;
}

SampleTreeNode* SampleTreeNode::parent() const {
    return m_impl->parent;
}

unsigned int SampleTreeNode::sampleCount() const {
    return static_cast<unsigned int>(m_impl->samples.size());
}

unsigned int SampleTreeNode::recursiveSampleCount() const {
    unsigned int count = sampleCount();
    for (const auto& node : m_impl->children) {
        count += node->recursiveSampleCount();
    }
    return count;
}

const std::vector<std::unique_ptr<SampleTreeNodeSample>>& SampleTreeNode::samples() const {
    return m_impl->samples;
}

void SampleTreeNode::sortSamples() {
    // Each list keeps its filing order, which is the order of the bank
    // description. Ties of the nearest-sample search and findRandomSample()
    // are decided by list order, so the bank's author decides them, and the
    // answer is the same in every run (an order by record address would not be).
    for (const auto& node : m_impl->children) {
        if (node) {
            node->sortSamples();
        }
    }
}

} // namespace ox::soundfont
