#pragma once

// What the two builders share when they lay out an empty tree.

#include <soundfont/SampleTree.h>

#include <initializer_list>

namespace ox::soundfont::treelayout {

/// Adds a technique node under `attack` with its variation children, in the order given.
inline void addTechnique(SampleTreeNode* attack, int technique,
                         std::initializer_list<int> variations) {
    SampleTreeNode* node = attack->addChild(technique);
    for (int variation : variations) {
        node->addChild(variation);
    }
}

} // namespace ox::soundfont::treelayout
