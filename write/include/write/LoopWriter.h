#pragma once

// Marks the loop of a sound file being written, the two ways the audio host
// reads loops back: a WAV file gets an instrument ("smpl") chunk, the
// compressed formats a LOOPSTART/LOOPLENGTH comment. Header-only: the test
// support and the fuzz seed writer use it without linking anything.

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace oxsf::write {

/// Frames [start, end) of `file` (opened for writing, no frames written yet)
/// loop. Writes what it is given; callers decide whether a region is a loop.
inline void writeLoop(SNDFILE* file, bool wav, int64_t start, int64_t end) {
    if (wav) {
        SF_INSTRUMENT instrument{};
        instrument.gain = 1;
        instrument.basenote = 60;
        instrument.velocity_hi = 127;
        instrument.key_hi = 127;
        instrument.loop_count = 1;
        instrument.loops[0].mode = SF_LOOP_FORWARD;
        instrument.loops[0].start = static_cast<unsigned>(start);
        instrument.loops[0].end = static_cast<unsigned>(end);
        sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
        return;
    }
    // libsndfile keeps its own copy of the text.
    const std::string comment =
        "LOOPSTART=" + std::to_string(start) + ";LOOPLENGTH=" + std::to_string(end - start);
    sf_set_string(file, SF_STR_COMMENT, comment.c_str());
}

} // namespace oxsf::write
