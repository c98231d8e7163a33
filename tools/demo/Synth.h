#pragma once

// Small deterministic synthesizers for the demo banks: plucked strings
// (Karplus-Strong) and noise-and-tone drums. Everything is seeded, so the same
// call always gives the same samples.

#include <cstdint>
#include <string>
#include <vector>

namespace oxsf::demo {

/// Mono or interleaved stereo audio at a sample rate.
struct Audio {
    int channels = 1;
    int sampleRate = 44100;
    std::vector<float> samples;
    int64_t frames() const { return static_cast<int64_t>(samples.size()) / channels; }
    float peak() const;
};

struct PluckSettings {
    double frequency = 110.0;
    double seconds = 1.0;
    double decay = 2.0;      ///< seconds to fall by 60 dB
    double brightness = 0.7; ///< 0 dull .. 1 bright excitation
    double amplitude = 0.8;
    double pickPosition = 0.2; ///< fraction of the string: comb-filters the excitation
    uint32_t seed = 1;
};

/// A plucked string by the Karplus-Strong method, tuned with a fractional delay.
Audio pluck(const PluckSettings& settings, int sampleRate = 44100);

/// The length in frames, close to `wanted`, of a whole number of periods of
/// `frequency`: a loop of it restarts the waveform where it left off.
int64_t loopLengthFor(double frequency, int64_t wanted, int sampleRate = 44100);

enum class Drum {
    Kick,
    Snare,
    Rimshot,
    ClosedHat,
    OpenHat,
    Crash,
    CrashEdge,
    HandLow,
    HandHigh,
    Slap
};

/// One drum hit; `amplitude` around 0.5 for soft and 0.9 for loud, `brightness` 0..1.
Audio drum(Drum kind, double amplitude, double brightness, uint32_t seed, int sampleRate = 44100);

enum class FileFormat { Wav, Flac, Ogg };

/// Writes `audio` with libsndfile (16-bit PCM for WAV and FLAC, Vorbis for Ogg).
/// A loop region [loopStart, loopEnd) goes into the WAV "smpl" chunk or, for FLAC
/// and Ogg, into a "LOOPSTART=n;LOOPLENGTH=m" comment. Returns an error message,
/// empty on success.
std::string writeAudio(const std::string& path, FileFormat format, const Audio& audio,
                       int64_t loopStart = -1, int64_t loopEnd = -1);

} // namespace oxsf::demo
