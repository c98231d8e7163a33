#pragma once

// Node searches shared by the node, the tree and the builders. Paths are
// spans over caller-owned ids and the climb keeps its bookkeeping on the
// stack, so searching a finished tree never touches the heap and may run on
// an audio thread.

#include <soundfont/SampleTree.h>

#include <span>

namespace ox::soundfont::treesearch {

/// Ids of a node path below a node, one per level.
using Path = std::span<const int>;

/// The deepest node reached along a prefix of `path` (at least one level), or null.
SampleTreeNode* findNode(const SampleTreeNode& node, Path path);

/// The nearest of `node`'s own samples; the earliest wins ties; null if it has none.
const SampleTreeNodeSample* nearestOwnSample(const SampleTreeNode& node,
                                             const SampleCoordinate& coordinate);

/// The nearest sample at the node addressed by `path` below `node`, or, when
/// that node is empty, at the nearest node holding samples (climbing towards
/// the root when the path has two or more ids).
const SampleTreeNodeSample* nearestSample(const SampleTreeNode& node,
                                          const SampleCoordinate& coordinate, Path path);

/// The node whose own samples nearestSample() chooses from: the node addressed
/// by `path` below `node` when it holds samples, else the nearest that does;
/// null when nearestSample() finds nothing.
const SampleTreeNode* answeringNode(const SampleTreeNode& node, Path path);

/// Of `node`'s own samples whose range answers `velocity`, the nearest to
/// `coordinate`, the dynamic difference left out for a sample with a range of
/// its own; the earliest wins ties. Null when none answers; `score` is the
/// winner's distance so counted.
const SampleTreeNodeSample* nearestForVelocity(const SampleTreeNode& node,
                                               const SampleCoordinate& coordinate, int velocity,
                                               float& score);

} // namespace ox::soundfont::treesearch
