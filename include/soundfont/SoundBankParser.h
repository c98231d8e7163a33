#pragma once

#include <soundfont/Export.h>

#include <memory>
#include <string>

namespace ox::soundfont {

class SoundFont;
class SampleTree;
class SampleTreeBuilder;

/// Turns a bank's description into its filled sample tree.
/// Threads: not for an audio thread (it builds a whole tree); one parser is used
/// by one thread, and the first parser of the process must not be constructed by
/// two threads at once.
class OXSF_EXPORT SoundBankParser {
public:
    SoundBankParser();
    ~SoundBankParser();
    SoundBankParser(const SoundBankParser&) = delete;
    SoundBankParser& operator=(const SoundBankParser&) = delete;

    /// Builds the tree of `bank`, replacing a tree this parser still holds.
    void parse(const SoundFont& bank);
    /// Hands out the tree (the caller owns it); null when there is none.
    SampleTree* takeSampleTree();
    /// The registered builder for "pitched" or "unpitched"; null otherwise.
    const SampleTreeBuilder* builder(const std::string& kind) const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace ox::soundfont
