#pragma once

#include <ox/audio/VoiceShape.h>

#include <cstdint>

// The parts of a shaped voice that TQ7SamplePlayer runs block by block.
namespace ox::audio::voice {

/// The level of `envelope` (0 to 1) `seconds` after the note's start, before its release.
double envelopeAt(const Envelope& envelope, double seconds);
/// The level of `lfo` (-1 to 1) `seconds` after the note's start.
double lfoAt(const Lfo& lfo, double seconds);
/// The filter's damping (1/Q) for a peak `resonance` dB above its DC gain.
float damping(float resonance);
/// The filter's frequency coefficient for `hz` at `rate`, stable up to Nyquist.
float frequencyCoefficient(double hz, int rate);

/// Filters `n` frames of `channels`-interleaved `frames` in place, the frequency
/// coefficient moving linearly from g0 (before the first frame) to g1 (at the last),
/// so that a moving cutoff does not step. state[c] holds channel c's low-pass
/// and band-pass outputs.
void lowPass(float* frames, int channels, int64_t n, float g0, float g1, float k,
             float (*state)[2]);

} // namespace ox::audio::voice
