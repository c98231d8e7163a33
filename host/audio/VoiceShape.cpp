#include <ox/audio/VoiceShape.h>

#include "VoiceModulation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ox::audio {

namespace {
// 0 cents, MIDI note 0.
constexpr double kCentsBase = 8.17579891564371;
} // namespace

double centsToHz(double cents) {
    return kCentsBase * std::exp2(cents / 1200.0);
}

double hzToCents(double hz) {
    return hz > 0.0 ? 1200.0 * std::log2(hz / kCentsBase) : -1e9;
}

namespace voice {

double envelopeAt(const Envelope& e, double t) {
    if (t < e.delay) {
        return 0.0;
    }
    t -= e.delay;
    if (t < e.attack) {
        return t / e.attack;
    }
    t -= e.attack;
    if (t < e.hold) {
        return 1.0;
    }
    t -= e.hold;
    const double sustain = std::clamp(double(e.sustain), 0.0, 1.0);
    if (t < e.decay) {
        return 1.0 - (1.0 - sustain) * t / e.decay;
    }
    return sustain;
}

double lfoAt(const Lfo& lfo, double t) {
    if (lfo.frequency <= 0.0f || t <= lfo.delay) {
        return 0.0;
    }
    const double cycles = (t - lfo.delay) * lfo.frequency + 0.25;
    return 1.0 - 4.0 * std::abs(cycles - std::floor(cycles) - 0.5);
}

float damping(float resonance) {
    // The peak of a two-pole low-pass is G = Q^2 / sqrt(Q^2 - 1/4); solved for
    // Q this puts the peak exactly `resonance` dB up, and 0 dB is Butterworth.
    const double g = std::pow(10.0, std::clamp(resonance, 0.0f, VoiceShape::kMaxResonance) / 20.0);
    const double q2 = (g * g + std::sqrt(g * g * g * g - g * g)) / 2.0;
    return float(1.0 / std::sqrt(q2));
}

LowPass lowPassFor(double hz, int rate, float damping) {
    // The trapezoidal integrators prewarp the cutoff, so the response at the
    // cutoff is exact; held below Nyquist, where the tangent grows without bound.
    const double f = std::clamp(hz, 5.0, 0.499 * double(rate));
    const double g = std::tan(std::numbers::pi * f / double(rate));
    const double a1 = 1.0 / (1.0 + g * (g + double(damping)));
    const double a2 = g * a1;
    const double a3 = g * a2;
    LowPass c;
    c.a00 = 2.0 * a1 - 1.0;
    c.a01 = -2.0 * a2;
    c.a10 = 2.0 * a2;
    c.a11 = 1.0 - 2.0 * a3;
    c.b0 = 2.0 * a2;
    c.b1 = 2.0 * a3;
    c.c0 = a2;
    c.c1 = 1.0 - a3;
    c.d = a3;
    return c;
}

namespace {

// One frame of one channel: the output, then both integrators moved on. Each
// recursion is a chain of one multiply and two adds, so the two channels of a
// stereo voice run side by side.
inline float lowPassStep(const LowPass& c, double& band, double& low, double x) {
    const float y = float(c.c0 * band + c.c1 * low + c.d * x);
    const double nextBand = c.a00 * band + c.a01 * low + c.b0 * x;
    low = c.a10 * band + c.a11 * low + c.b1 * x;
    band = nextBand;
    return y;
}

// Keeps a silent filter out of denormals.
void store(double band, double low, double* memory) {
    if (std::abs(band) < 1e-30 && std::abs(low) < 1e-30) {
        band = low = 0.0;
    }
    memory[0] = band;
    memory[1] = low;
}

} // namespace

void lowPass(float* frames, int channels, int64_t n, const LowPass& filter, double (*memory)[2]) {
    for (int ch = 0; ch < channels; ++ch) {
        double band = memory[ch][0];
        double low = memory[ch][1];
        for (int64_t j = 0; j < n; ++j) {
            float& x = frames[j * channels + ch];
            x = lowPassStep(filter, band, low, x);
        }
        store(band, low, memory[ch]);
    }
}

namespace {

template <int Channels, bool Filter, bool Add>
void filterIntoFixed(const float* frames, int64_t n, const LowPass& c, double (*memory)[2],
                     const StereoTarget& t) {
    double band[2] = {memory[0][0], memory[1][0]};
    double low[2] = {memory[0][1], memory[1][1]};
    // Copies: the stores into `out` could otherwise alias them, and they would be reloaded.
    float* out = t.out;
    const float gainLeft = t.gains[0];
    const float gainRight = t.gains[1];
    const float volume = t.volume;
    const float slope = t.slope;
    const auto put = [=](const float* y, int64_t j) {
        const float v = volume + slope * float(j);
        const float left = y[0] * (gainLeft * v);
        const float right = y[Channels - 1] * (gainRight * v);
        float* to = out + 2 * j;
        to[0] = Add ? to[0] + left : left;
        to[1] = Add ? to[1] + right : right;
    };
    for (int64_t j = 0; j < n; ++j) {
        float y[2];
        for (int ch = 0; ch < Channels; ++ch) {
            const double x = frames[j * Channels + ch];
            y[ch] = Filter ? lowPassStep(c, band[ch], low[ch], x) : float(x);
        }
        put(y, j);
    }
    for (int ch = 0; ch < Channels; ++ch) {
        store(band[ch], low[ch], memory[ch]);
    }
}

template <int Channels>
void filterIntoChannels(const float* frames, int64_t n, const LowPass* filter, double (*memory)[2],
                        const StereoTarget& t) {
    static const LowPass none;
    if (filter) {
        t.add ? filterIntoFixed<Channels, true, true>(frames, n, *filter, memory, t)
              : filterIntoFixed<Channels, true, false>(frames, n, *filter, memory, t);
    } else {
        t.add ? filterIntoFixed<Channels, false, true>(frames, n, none, memory, t)
              : filterIntoFixed<Channels, false, false>(frames, n, none, memory, t);
    }
}

} // namespace

void filterInto(const float* frames, int channels, int64_t n, const LowPass* filter,
                double (*memory)[2], const StereoTarget& target) {
    if (channels == 1) {
        filterIntoChannels<1>(frames, n, filter, memory, target);
    } else {
        filterIntoChannels<2>(frames, n, filter, memory, target);
    }
}

} // namespace voice

} // namespace ox::audio
