#pragma once

// Offline rendering of notes through the library's sample players into a
// stereo mix held in memory, and writing the mix as a sound file.

#include <ox/synth/Synth.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ox::soundfont {
class SoundFont;
}

namespace oxsf {

struct Note {
    const ox::soundfont::SoundFont* bank = nullptr;
    int midi = 60;
    double start = 0.0;  ///< seconds
    double length = 0.5; ///< seconds until the release starts
    float gain = 1.0f;   ///< linear, on top of the bank's own gain
    int dynamic = 10;    ///< the dynamic the sample is chosen for ("F")
};

/// What served one note.
struct NoteReport {
    Note note;
    bool found = false;
    std::string file;         ///< the file the player plays
    int recordedMidi = -1;    ///< pitch the sample was recorded at
    double transposition = 0; ///< semitones the player transposes by, the bank's tuning included
    int layers = 0;           ///< further layers that sounded with it
};

struct MixSettings {
    int sampleRate = 44100;
    double release = 0.08;  ///< release after a note's length, for samples without an envelope
    bool normalize = false; ///< scale the peak to -1 dBFS (otherwise only protect from clipping)
    /// Transpose through the windowed sinc instead of the cubic (oxsf --quality high).
    bool highQuality = false;
};

struct Mix {
    std::vector<float> samples; ///< interleaved stereo
    int sampleRate = 44100;
    float peak = 0.0f;  ///< before scaling
    float scale = 1.0f; ///< applied to reach the output level
    int64_t frames() const { return static_cast<int64_t>(samples.size() / 2); }
};

/// How fast a voice falls silent when a note of its choke group cuts it: as in the synth.
using ox::synth::kChokeSeconds;

/// Renders every note with SoundFont::samplePlayers: the player of the sample for
/// the note's pitch and dynamic (samplePlayer's) and of each of its layers,
/// transposed by what the library says, at the mix rate, released at the end of
/// the note, or faded when a later note of its choke group starts.
/// Notes for which the bank has no sample are reported with found = false and stay silent.
Mix renderNotes(const std::vector<Note>& notes, const MixSettings& settings,
                std::vector<NoteReport>* reports = nullptr);

/// Writes `mix` as a stereo sound file in the format of the path's extension
/// (outputFormat), 16-bit or float. Throws UsageError for an unknown extension,
/// ToolError when the file cannot be written.
void writeMix(const std::string& path, const Mix& mix, bool floatSamples);

} // namespace oxsf
