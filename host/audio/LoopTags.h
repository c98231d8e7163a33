#pragma once

// Loop regions written as tags ("LOOPSTART=<n>", "LOOPLENGTH=<m>") in FLAC and
// Ogg Vorbis files, whether in one comment text or as separate Vorbis comments.

#include <ox/stream/IStream.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace ox::audio::detail {

struct LoopTags {
    std::optional<int64_t> start;
    std::optional<int64_t> length;

    bool complete() const { return start && length; }
};

/// Fills in the tags found in free text such as "LOOPSTART=10;LOOPLENGTH=20"
/// (keys without regard to case; a tag already found is kept).
void scanLoopTags(std::string_view text, LoopTags& tags);

/// Reads the Vorbis comments of a FLAC stream (its VORBIS_COMMENT block) or of an
/// Ogg Vorbis stream (its comment header) and scans each for loop tags. Reads
/// only the head of the stream; malformed data ends the search quietly.
void readFlacLoopTags(const ox::stream::IStream& stream, LoopTags& tags);
void readOggLoopTags(const ox::stream::IStream& stream, LoopTags& tags);

} // namespace ox::audio::detail
