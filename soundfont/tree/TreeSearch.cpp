#include "tree/TreeSearch.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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

// The nearest sample of a list by SampleCoordinate::distance, computed with the
// same operations in the same order (so bit for bit the same distances), with
// the request's side and the weights read once per scan instead of per sample.
// Strictly smaller only, so among equal distances the earliest stays.
class NearestSample {
public:
    explicit NearestSample(const SampleCoordinate& request) {
        for (int i = 0; i < 5; ++i) {
            m_request[i] = request[i];
            m_weight[i] = SampleCoordinate::_SCDefinitions[i].weight;
        }
        m_stringTerm =
            m_request[SampleCoordinate::String] >= 0 && m_request[SampleCoordinate::Fret] >= 0;
        // ((fret - requested fret) - midi) + requested midi, regrouped: the
        // same in wrapping arithmetic.
        m_openOffset =
            wrappingSub(m_request[SampleCoordinate::Midi], m_request[SampleCoordinate::Fret]);
    }

    const SampleTreeNodeSample*
    operator()(const std::vector<std::unique_ptr<SampleTreeNodeSample>>& samples) const {
        // With the component table's weights, option and fret add +0 to a sum
        // that is never negative, which changes nothing.
        return m_weight[SampleCoordinate::Option] == 0.0f &&
                       m_weight[SampleCoordinate::Fret] == 0.0f
                   ? scan<false>(samples)
                   : scan<true>(samples);
    }

private:
    int32_t m_request[5];
    float m_weight[5];
    bool m_stringTerm;
    int32_t m_openOffset;

    // Components come straight from bank descriptions: wrap, never overflow.
    static int32_t wrappingSub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
    static int32_t wrappingAdd(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }

    template <bool AllTerms> float distance(const SampleCoordinate& sample) const {
        // 0 + string term, or 0 without one: the same sum either way.
        const float x = float(
            wrappingAdd(wrappingSub(sample[SampleCoordinate::Fret], sample[SampleCoordinate::Midi]),
                        m_openOffset));
        const bool withString = m_stringTerm && (sample[SampleCoordinate::String] |
                                                 sample[SampleCoordinate::Fret]) >= 0;
        float sum = withString ? x * m_weight[SampleCoordinate::String] * x : 0.0f;
        for (int i = 1; i <= (AllTerms ? 4 : 2); ++i) {
            const float d = float(wrappingSub(m_request[i], sample[i]));
            sum += d * m_weight[i] * d;
        }
        return sum;
    }

    using Ints = int32_t __attribute__((vector_size(16)));
    using Words = uint32_t __attribute__((vector_size(16))); // wrapping arithmetic
    using Floats = float __attribute__((vector_size(16)));

    // The distances of four samples side by side: each lane does exactly what
    // distance() does for one sample.
    template <bool AllTerms>
    Floats distances(const SampleCoordinate& a, const SampleCoordinate& b,
                     const SampleCoordinate& c, const SampleCoordinate& d) const {
        auto lanes = [&](int i) {
            return Words{uint32_t(a[i]), uint32_t(b[i]), uint32_t(c[i]), uint32_t(d[i])};
        };
        const Words string = lanes(0), fret = lanes(4);
        const Floats x =
            __builtin_convertvector((Ints)(fret - lanes(1) + uint32_t(m_openOffset)), Floats);
        const Ints withString = ((Ints)(string | fret) >= 0) & (m_stringTerm ? -1 : 0);
        const Floats term = x * m_weight[SampleCoordinate::String] * x;
        Floats sum = (Floats)((Ints)term & withString);
        for (int i = 1; i <= (AllTerms ? 4 : 2); ++i) {
            const Floats e =
                __builtin_convertvector((Ints)(uint32_t(m_request[i]) - lanes(i)), Floats);
            sum += e * m_weight[i] * e;
        }
        return sum;
    }

    template <bool AllTerms>
    const SampleTreeNodeSample*
    scan(const std::vector<std::unique_ptr<SampleTreeNodeSample>>& samples) const {
        if (samples.empty()) {
            return nullptr;
        }
        const SampleTreeNodeSample* best = samples.front().get();
        float bestDistance = distance<AllTerms>(*best);
        size_t i = 1;
        for (; i + 4 <= samples.size(); i += 4) {
            const Floats d =
                distances<AllTerms>(*samples[i], *samples[i + 1], *samples[i + 2], *samples[i + 3]);
            for (int lane = 0; lane < 4; ++lane) {
                if (d[lane] < bestDistance) {
                    best = samples[i + size_t(lane)].get();
                    bestDistance = d[lane];
                }
            }
        }
        for (; i < samples.size(); ++i) {
            const float d = distance<AllTerms>(*samples[i]);
            if (d < bestDistance) {
                best = samples[i].get();
                bestDistance = d;
            }
        }
        return best;
    }
};

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
    return NearestSample(coordinate)(node.samples());
}

const SampleTreeNode* answeringNode(const SampleTreeNode& node, Path path) {
    const SampleTreeNode* addressed = findNode(node, path);
    if (addressed == nullptr || addressed->sampleCount() > 0) {
        return addressed;
    }
    VisitedList visited(addressed);
    return nearestNodeWithSamples(*addressed, path.size(), visited);
}

const SampleTreeNodeSample* nearestSample(const SampleTreeNode& node,
                                          const SampleCoordinate& coordinate, Path path) {
    const SampleTreeNode* found = answeringNode(node, path);
    return found != nullptr ? nearestOwnSample(*found, coordinate) : nullptr;
}

const SampleTreeNodeSample* nearestForVelocity(const SampleTreeNode& node,
                                               const SampleCoordinate& coordinate, int velocity,
                                               float& score) {
    const float weight = SampleCoordinate::_SCDefinitions[SampleCoordinate::Dynamic].weight;
    const SampleTreeNodeSample* best = nullptr;
    for (const auto& sample : node.samples()) {
        if (!sample->trigger.answers(velocity)) {
            continue;
        }
        // Whole-number terms: subtracting one gives exactly the sum without it.
        float distance = coordinate.distance(*sample);
        if (sample->trigger.ranged()) {
            const float d =
                float(coordinate[SampleCoordinate::Dynamic] - (*sample)[SampleCoordinate::Dynamic]);
            distance -= d * weight * d;
        }
        if (best == nullptr || distance < score) {
            best = sample.get();
            score = distance;
        }
    }
    return best;
}

} // namespace ox::soundfont::treesearch
