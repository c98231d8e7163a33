#pragma once

#include <string>
#include <vector>

namespace oxsf {

struct MidiNote {
    int channel = 0; ///< 0 to 15
    int midi = 60;
    int velocity = 100;
    double start = 0.0; ///< seconds, after the file's tempo map
    double end = 0.0;
};

/// The notes of a Standard MIDI File, sorted by start time. A note-on without
/// its note-off ends at the last event of the file. Throws ToolError for a file
/// that cannot be read or is not a MIDI file.
std::vector<MidiNote> readMidiFile(const std::string& path);

} // namespace oxsf
