#pragma once

// The paths the library's search walks and the nodes that answer, told in the
// words of a bank's vocabulary: shared by find, check and the coverage map.

#include "Vocabulary.h"

#include <string>
#include <vector>

namespace ox::soundfont {
class SampleCoordinate;
class SampleTreeNode;
struct SampleTreeNodeSample;
} // namespace ox::soundfont

namespace oxsf {

/// The ids from the root down to `node`.
std::vector<int> nodePath(const ox::soundfont::SampleTreeNode* node);
/// "pick/sustain/down", "(root)" or "(no node)".
std::string nodeName(Kind kind, const ox::soundfont::SampleTreeNode* node);
/// The node under `node` (or `node` itself) that holds `sample`; null when none does.
const ox::soundfont::SampleTreeNode* holderOf(const ox::soundfont::SampleTreeNode& node,
                                              const ox::soundfont::SampleTreeNodeSample* sample);
/// The paths the builder's search walks for `request` (SampleTreeBuilder::searchPaths).
std::vector<std::vector<int>> searchedPaths(const ox::soundfont::SampleCoordinate& request);

} // namespace oxsf
