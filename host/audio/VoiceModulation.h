#pragma once

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
template <size_t N>
[[gnu::always_inline]] inline double estrin(const std::array<double, N>& c, double x) {
    if constexpr (N == 1) {
        return c[0];
    } else {
        std::array<double, (N + 1) / 2> pairs{};
        for (size_t k = 0; k < N / 2; ++k) {
            pairs[k] = c[2 * k] + c[2 * k + 1] * x;
        }
        if constexpr (N % 2 == 1) {
            pairs[N / 2] = c[N - 1];
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
    return 1.0 - 4.0 * std::abs(cycles - std::floor(cycles) - 0.5);
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

/// A low-pass with the form it takes over four frames at a time, which the
/// stereo path runs. A player keeps it while its cutoff holds.
struct LowPassSteps {
    LowPass step;
    // Its four-frame form, k = 0..3; the kernel spreads these over its lanes.
    float impulse[4];  ///< output k from the input k frames before it: C A^(k-1) B, D at 0
    float fromBand[4]; ///< output k from the band-pass integrator at the first frame
    float fromLow[4];  ///< ... from the low-pass one
    float toBand[4];   ///< the band-pass integrator four frames on, from input frame 3 - k
    float toLow[4];    ///< ... the low-pass one
    double four[2][2]; ///< the integrators four frames on, from themselves now: A^4
};
/// Puts `filter` and its four-frame form into `steps`.
void setSteps(LowPassSteps& steps, const LowPass& filter);

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

} // namespace ox::audio::voice
