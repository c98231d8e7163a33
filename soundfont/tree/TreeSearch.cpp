#include "tree/TreeSearch.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace ox::soundfont::treesearch {

namespace {

// The nodes whose subtrees one climb has already searched. Every entry is a
// subtree known to hold no samples, so skipping it only saves work: when the
// list is full, further nodes are simply not recorded and get searched again,
// which costs time but never changes the result. The fixed capacity comfortably
// covers the builders' layouts (under 50 nodes) and keeps the search off the heap.
class VisitedList {
public:
    explicit VisitedList(const SampleTreeNode* first) { add(first); }

    bool contains(const SampleTreeNode* node) const {
        const auto end = m_nodes.begin() + static_cast<std::ptrdiff_t>(m_count);
        return std::find(m_nodes.begin(), end, node) != end;
    }

    void add(const SampleTreeNode* node) {
        if (m_count < m_nodes.size()) {
            m_nodes[m_count++] = node;
        }
    }

private:
    std::array<const SampleTreeNode*, 64> m_nodes{};
    std::size_t m_count = 0;
};

SampleTreeNode* childWithId(const SampleTreeNode& node, int id) {
    for (const auto& child : node.children()) {
        if (child->id() == id) {
            return child.get();
        }
    }
    return nullptr;
}

// The first node holding samples in post-order (children in order before the
// node itself), skipping subtrees already searched.
const SampleTreeNode* firstNodeWithSamples(const SampleTreeNode& node, VisitedList& visited) {
    for (const auto& child : node.children()) {
        if (visited.contains(child.get())) {
            continue;
        }
        if (const SampleTreeNode* found = firstNodeWithSamples(*child, visited)) {
            return found;
        }
        visited.add(child.get());
    }
    return node.sampleCount() > 0 ? &node : nullptr;
}

// Searches the subtree of `start`, then of each ancestor in turn up to the
// root; a path of one id allows no climbing.
const SampleTreeNode* nearestNodeWithSamples(const SampleTreeNode& start, std::size_t pathSize,
                                             VisitedList& visited) {
    for (const SampleTreeNode* node = &start; node != nullptr; node = node->parent()) {
        if (const SampleTreeNode* found = firstNodeWithSamples(*node, visited)) {
            return found;
        }
        if (pathSize <= 1) {
            return nullptr;
        }
    }
    return nullptr;
}

} // namespace

SampleTreeNode* findNode(const SampleTreeNode& node, Path path) {
    if (path.empty()) {
        return nullptr;
    }
    SampleTreeNode* reached = childWithId(node, path[0]);
    if (reached == nullptr) {
        return nullptr;
    }
    for (std::size_t level = 1; level < path.size(); ++level) {
        SampleTreeNode* next = childWithId(*reached, path[level]);
        if (next == nullptr) {
            break;
        }
        reached = next;
    }
    return reached;
}

const SampleTreeNodeSample* nearestOwnSample(const SampleTreeNode& node,
                                             const SampleCoordinate& coordinate) {
    const SampleTreeNodeSample* best = nullptr;
    float bestDistance = 0.0f;
    for (const auto& sample : node.samples()) {
        const float distance = coordinate.distance(*sample);
        // Strictly smaller only: among equal distances the earliest stays.
        if (best == nullptr || distance < bestDistance) {
            best = sample.get();
            bestDistance = distance;
        }
    }
    return best;
}

const SampleTreeNodeSample* nearestSample(const SampleTreeNode& node,
                                          const SampleCoordinate& coordinate, Path path) {
    const SampleTreeNode* addressed = findNode(node, path);
    if (addressed == nullptr) {
        return nullptr;
    }
    if (addressed->sampleCount() > 0) {
        return nearestOwnSample(*addressed, coordinate);
    }
    VisitedList visited(addressed);
    const SampleTreeNode* found = nearestNodeWithSamples(*addressed, path.size(), visited);
    return found != nullptr ? nearestOwnSample(*found, coordinate) : nullptr;
}

} // namespace ox::soundfont::treesearch
