#pragma once

#include <ox/audio/AudioStream.h>
#include <ox/audio/VoiceShape.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

// The parts of a shaped voice that TQ7SamplePlayer runs block by block.
namespace ox::audio::voice {

/// A polynomial of degree N - 1, coefficients from the constant term up, by
/// Estrin's scheme: pairs of terms, then pairs of pairs, so that its chain of
/// dependent operations is about log2(N) long rather than Horner's N.
template <class C, size_t N, class X>
[[gnu::always_inline]] inline X estrin(const std::array<C, N>& c, X x) {
    if constexpr (N == 1) {
        return c[0] + X{}; // a vector x: every lane
    } else {
        std::array<X, (N + 1) / 2> pairs{};
        for (size_t k = 0; k < N / 2; ++k) {
            pairs[k] = c[2 * k] + c[2 * k + 1] * x;
        }
        if constexpr (N % 2 == 1) {
            pairs[N / 2] = c[N - 1] + X{};
        }
        return estrin(pairs, x * x);
    }
}

/// (ln 2)^k / k!: 2^f as the series of e^(f ln 2).
inline constexpr std::array<double, 13> kExp2Series = [] {
    std::array<double, 13> c{};
    double term = 1.0;
    for (size_t k = 0; k < c.size(); ++k) {
        c[k] = term;
        term *= std::numbers::ln2 / double(k + 1);
    }
    return c;
}();

/// 2^x within a few parts in 1e16 for |x| <= 1000 (held there beyond; NaN:
/// -1000) at a fraction of std::exp2's cost; inline, as a shaped voice asks
/// for several every control block.
inline double exp2Fast(double x) {
    x = x > -1000.0 ? std::min(x, 1000.0) : -1000.0;
    const int64_t whole = int64_t(x + 1024.5) - 1024; // nearest, as x + 1024.5 > 0
    // For |f| <= 1/2 the series to f^12 leaves less than 2e-16.
    const double f = x - double(whole);
    return estrin(kExp2Series, f) * std::bit_cast<double>(uint64_t(whole + 1023) << 52);
}

/// The level of `envelope` (0 to 1) `seconds` after the note's start, before
/// its release; with `convexAttack` the attack rises as VoiceShape::modAttackConvex says.
double envelopeAt(const Envelope& envelope, double seconds, bool convexAttack = false);
/// The level of `lfo` (-1 to 1) `seconds` after the note's start: a triangle
/// rising from 0. Inline: a shaped voice asks for it several times a block.
inline double lfoAt(const Lfo& lfo, double seconds) {
    if (lfo.frequency <= 0.0f || seconds <= lfo.delay) {
        return 0.0;
    }
    const double cycles = (seconds - lfo.delay) * lfo.frequency + 0.25;
    // cycles > 0, where truncation is the floor: without SSE4.1 std::floor
    // is a call. From 2^52 on every double is whole.
    const double whole = cycles < 0x1p52 ? double(int64_t(cycles)) : cycles;
    return 1.0 - 4.0 * std::abs(cycles - whole - 0.5);
}
/// The filter's damping (1/Q) for a peak `resonance` dB above its DC gain.
float damping(float resonance);
/// A two-pole low-pass at one cutoff, as the state-space form of a
/// trapezoidal state-variable filter: its two states are the band-pass and
/// low-pass integrators, s' = A s + B x and y = C s + D x. Those states keep
/// it stable however fast the cutoff moves.
struct LowPass {
    double a00 = 1.0, a01 = 0.0, a10 = 0.0, a11 = 1.0;
    double b0 = 0.0, b1 = 0.0;
    double c0 = 0.0, c1 = 1.0, d = 0.0;
};
/// The low-pass at `hz` (held below Nyquist) for `rate`, with `damping` (1/Q).
LowPass lowPassFor(double hz, int rate, float damping);
/// The same at a cutoff in absolute cents, as a moving cutoff asks for it every control block.
LowPass lowPassAtCents(double cents, int rate, float damping);

// Vectors of the four-frame filter kernels (GCC's, so that one source builds
// both the baseline and the AVX2 kernels). Only ever passed by reference: a
// 32-byte vector passed by value would differ between the builds.
using Doubles4 = double __attribute__((vector_size(32)));
using Floats4 = float __attribute__((vector_size(16)));
using Floats8 = float __attribute__((vector_size(32)));

/// A low-pass's form over four frames at a time, spread over the kernels'
/// lanes: of the output, lane 2j + c is frame j of channel c; of the state,
/// lanes are {band left, band right, low left, low right}, so that one frame's
/// two inputs, side by side, multiply both halves at once.
struct LowPassQuad {
    Floats8 fromInput[4]; ///< the output from input frame i: the impulse response, shifted by i
    Floats8 fromBand;     ///< ... from the band-pass integrators at the first frame
    Floats8 fromLow;      ///< ... from the low-pass ones
    Floats4 toState[4];   ///< the integrators four frames on, from input frame i
    Doubles4 keep;        ///< ... from themselves now
    Doubles4 cross;       ///< ... from the other integrator of their channel now
};

/// A low-pass with the form it takes over four frames at a time, which the
/// stereo path runs. A player keeps it while its cutoff holds.
struct LowPassSteps {
    LowPass step;
    LowPassQuad quad;
};
/// Puts `filter` and its four-frame form into `steps`.
void setSteps(LowPassSteps& steps, const LowPass& filter);
/// setSteps() of lowPassAtCents() for each of `n` steps, four at a time in
/// vectors: a moving cutoff asks for one every step.
void setStepsAtCents(LowPassSteps* const* steps, const double* cents, int n, int rate,
                     float damping);
/// exp2Fast() of each of `n` values, in place, four at a time.
void exp2Each(double* x, int n);

/// Filters `n` frames of `channels`-interleaved `frames` in place, channel c
/// with memory[c]: its band-pass and low-pass integrators.
void lowPass(float* frames, int channels, int64_t n, const LowPass& filter, double (*memory)[2]);

/// Where a shaped block goes in the common case, a mono or stereo source
/// into a stereo output: out[c] (+)= y[c] * gains[c] * (volume + slope * j).
struct StereoTarget {
    float* out;
    float gains[2];
    float volume;
    float slope;
    bool add;
};

/// Filters (with `filter`; null: no filter) `n` frames of mono or stereo
/// `frames` and puts them into `target` in the same pass, so that the
/// filter's recursion and the mixing overlap.
void filterInto(const float* frames, int channels, int64_t n, const LowPassSteps* filter,
                double (*memory)[2], const StereoTarget& target);

/// A shaped step's filter and where it goes, for the player to render
/// straight into: its target is the step's first frame.
struct FilterSink {
    const LowPassSteps* filter;
    double (*memory)[2];
    StereoTarget target;
};

/// Shaped steps of `frames` each (the last may be shorter), for the player to
/// render one after another in one call: step k at pitch pitch[k], through sinks[k].
struct SinkSteps {
    const double* pitch;
    const FilterSink* sinks;
    int64_t frames;
};

/// Frames of a mono or stereo source for the cubic, as the player's four-frame
/// loop takes them: `n` (a multiple of 4) at positions phase, phase + step ...
/// (32.32) from data + shift * channels, times the ramp and `factor`.
template <class Sample> struct CubicFrames {
    const Sample* data;
    int64_t shift;
    uint64_t phase;
    uint64_t step;
    int64_t n;
    GainRamp ramp;
    float factor;
};

/// Interpolates `frames` with the cubic and filters them into the sink's
/// target from frame `at` on in one pass: no scratch between the two, and
/// the filter's recursion overlaps the interpolation. x86 only.
void filterCubic(const CubicFrames<int16_t>& frames, int channels, const FilterSink& sink,
                 int64_t at);
void filterCubic(const CubicFrames<float>& frames, int channels, const FilterSink& sink,
                 int64_t at);

} // namespace ox::audio::voice
