#pragma once

// Sample audio in and out through libsndfile: source files of any format it
// reads, and the FLAC files of imported banks, with their loops.

#include "Plan.h"

#include <string>

namespace ox::import {

/// What a source sound file says about itself without being decoded.
struct SoundFileInfo {
    int64_t frames = 0;
    int rootKey = -1; ///< the file's own root key (instrument chunk), -1 when none
    int64_t loopStart = -1, loopEnd = -1; ///< its own loop, frames [start, end)
};

/// Opens `path` to check that libsndfile reads it, and reads its instrument
/// chunk (WAV "smpl", AIFF "INST"). Throws ImportError naming the file when it
/// is missing or unreadable.
SoundFileInfo probeSoundFile(const std::string& path);

/// Every frame of the file, without loop; 24-bit for sources of more than 16
/// bits. Throws ImportError naming the file.
Audio readSoundFile(const std::string& path);

/// Reads frames [start, end) of the sound file at `path` (the end clamped to
/// the file), looping the file's frames [loopStart, loopEnd) when loopStart is
/// not negative. Sources of equal key play the same.
AudioSource fileSource(const std::string& path, int64_t start, int64_t end, int64_t loopStart,
                       int64_t loopEnd);

/// Writes `audio` to `path` as FLAC, its loop as a LOOPSTART/LOOPLENGTH comment.
/// Throws ImportError naming the file.
void writeFlac(const std::string& path, const Audio& audio);

} // namespace ox::import
