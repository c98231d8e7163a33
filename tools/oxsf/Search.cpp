#include "Search.h"

#include <soundfont/SampleTree.h>

namespace oxsf {

using namespace ox::soundfont;

std::vector<int> nodePath(const SampleTreeNode* node) {
    std::vector<int> path;
    for (; node && node->parent(); node = node->parent()) {
        path.insert(path.begin(), node->id());
    }
    return path;
}

std::string nodeName(Kind kind, const SampleTreeNode* node) {
    if (!node) {
        return "(no node)";
    }
    const std::vector<int> path = nodePath(node);
    if (path.empty()) {
        return "(root)";
    }
    return articulationName(kind, path[0], path.size() > 1 ? path[1] : -1,
                            path.size() > 2 ? path[2] : -1);
}

// Trees laid out by the builders are three levels deep, so the recursion is too.
const SampleTreeNode* holderOf(const SampleTreeNode& node, const SampleTreeNodeSample* sample) {
    for (const auto& own : node.samples()) {
        if (own.get() == sample) {
            return &node;
        }
    }
    for (const auto& child : node.children()) {
        if (const SampleTreeNode* found = holderOf(*child, sample)) {
            return found;
        }
    }
    return nullptr;
}

std::vector<std::vector<int>> searchedPaths(const SampleCoordinate& request) {
    std::vector<std::vector<int>> paths;
    for (const auto& path : SampleTreeBuilder::searchPaths(request)) {
        paths.emplace_back(path.begin(), path.end());
    }
    return paths;
}

} // namespace oxsf
