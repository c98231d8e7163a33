#pragma once

#include <soundfont/Export.h>

#include <memory>
#include <string>

/// \file
/// How a bank's description becomes its sample tree: SoundBankParser. Hosts rarely
/// need it: SoundFont::sampleTree() runs it once per bank.

namespace ox::soundfont {

class SoundFont;
class SampleTree;
class SampleTreeBuilder;

/// Turns a bank's description into its filled sample tree.
///
/// The bank's type chooses the builder (percussion types the unpitched one, any other
/// type the pitched one); its layers are walked down the builder's empty tree by their
/// class words, and each Sample is filed, as a SampleTreeNodeSample, under the node
/// its layer reaches. Nothing is reported: a layer whose word finds no node is skipped
/// with its samples and sub-layers; unknown dynamics and options become 0.
///
/// Ownership: the parser owns the tree it builds until takeSampleTree(). The builders
/// belong to the library and outlive every tree.
///
/// Threads: not for an audio thread (it builds a whole tree); one parser is used
/// by one thread. Constructing parsers is thread-safe (the first one in the process
/// registers the builders, once).
class OXSF_EXPORT SoundBankParser {
public:
    /// A parser holding no tree.
    SoundBankParser();
    ~SoundBankParser();
    SoundBankParser(const SoundBankParser&) = delete;
    SoundBankParser& operator=(const SoundBankParser&) = delete;

    /// Builds the tree of `bank`, replacing a tree this parser still holds.
    /// Always leaves a tree, also for a bank without samples; reads the bank's type,
    /// layer() and tuning().
    void parse(const SoundFont& bank);
    /// Hands out the tree (the caller owns it); null when there is none.
    SampleTree* takeSampleTree();
    /// The registered builder for "pitched" or "unpitched"; null otherwise.
    /// Exact match; the builder lives as long as the library.
    const SampleTreeBuilder* builder(const std::string& kind) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace ox::soundfont
