#include <ox/audio/VoiceShape.h>
#include <ox/utils/cpu.h>

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

// Four frames at a time. Stepped one frame at a time the filter waits on its
// own recursion, about ten cycles a frame; written as one step over four
// frames, the recursion is one step per four frames, and everything else (what
// the four inputs add to the state, the four outputs) is vector work off that
// chain. A quad's lanes are four frames of one channel, or the two
// integrators of each of two channels.
using Quad = double __attribute__((vector_size(32)));
using Floats4 = float __attribute__((vector_size(16)));
using Floats8 = float __attribute__((vector_size(32)));

struct LowPassQuad {
    Quad fromBand, fromLow; ///< output j from the integrators at the first frame
    Quad fromInput[4];      ///< output j from input i: the impulse response, shifted by i
    Quad nextFromBand;      ///< the integrators four frames on, from the band-pass now
    Quad nextFromLow;       ///< ... from the low-pass now
    Quad nextFromInput[4];  ///< ... from input i
};

struct Matrix2 {
    double m[2][2];
    Matrix2 operator*(const Matrix2& o) const {
        Matrix2 r;
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 2; ++j) {
                r.m[i][j] = m[i][0] * o.m[0][j] + m[i][1] * o.m[1][j];
            }
        }
        return r;
    }
};

static_assert(sizeof(LowPassQuad) == sizeof(LowPassSteps::quad));

LowPassQuad quadFor(const LowPass& c) {
    // Powers of A, then C A^j (what the state gives output j) and A^k B (what
    // input i gives the state k frames later).
    Matrix2 power[5];
    power[0] = {{{1.0, 0.0}, {0.0, 1.0}}};
    const Matrix2 a{{{c.a00, c.a01}, {c.a10, c.a11}}};
    for (int k = 1; k < 5; ++k) {
        power[k] = power[k - 1] * a;
    }
    double fromState[4][2], toState[4][2], impulse[4];
    for (int k = 0; k < 4; ++k) {
        const Matrix2& p = power[k];
        fromState[k][0] = c.c0 * p.m[0][0] + c.c1 * p.m[1][0];
        fromState[k][1] = c.c0 * p.m[0][1] + c.c1 * p.m[1][1];
        toState[k][0] = p.m[0][0] * c.b0 + p.m[0][1] * c.b1;
        toState[k][1] = p.m[1][0] * c.b0 + p.m[1][1] * c.b1;
    }
    impulse[0] = c.d;
    for (int k = 1; k < 4; ++k) {
        impulse[k] = fromState[k - 1][0] * c.b0 + fromState[k - 1][1] * c.b1;
    }
    LowPassQuad q;
    for (int j = 0; j < 4; ++j) {
        q.fromBand[j] = fromState[j][0];
        q.fromLow[j] = fromState[j][1];
        for (int i = 0; i < 4; ++i) {
            q.fromInput[i][j] = j < i ? 0.0 : impulse[j - i];
        }
    }
    const Matrix2& four = power[4];
    q.nextFromBand = Quad{four.m[0][0], four.m[1][0], four.m[0][0], four.m[1][0]};
    q.nextFromLow = Quad{four.m[0][1], four.m[1][1], four.m[0][1], four.m[1][1]};
    for (int i = 0; i < 4; ++i) {
        const double* s = toState[3 - i];
        q.nextFromInput[i] = Quad{s[0], s[1], s[0], s[1]};
    }
    return q;
}

template <int Channels, bool Add>
[[gnu::always_inline]] inline int64_t filterQuadsBody(const float* frames, int64_t n,
                                                      const LowPassQuad& q, double (*memory)[2],
                                                      const StereoTarget& t) {
    // The inputs in double, once: each is used by eight products, which then
    // take it straight from memory rather than shuffling it out of a register.
    constexpr int64_t kChunk = 64;
    double left[kChunk], right[kChunk];
    Quad pairs[kChunk]; // {left, left, right, right}: what one input gives the two states
    Quad state{memory[0][0], memory[0][1], memory[1][0], memory[1][1]};
    const Floats8 gains{t.gains[0], t.gains[1], t.gains[0], t.gains[1],
                        t.gains[0], t.gains[1], t.gains[0], t.gains[1]};
    const float slope = t.slope;
    Floats8 ramp = t.volume + slope * Floats8{0.0f, 0.0f, 1.0f, 1.0f, 2.0f, 2.0f, 3.0f, 3.0f};
    float* out = t.out;
    const int64_t whole = n & ~int64_t(3);
    for (int64_t start = 0; start < whole; start += kChunk) {
        const int64_t count = std::min(kChunk, whole - start);
        const float* in = frames + Channels * start;
        for (int64_t j = 0; j < count; ++j) {
            left[j] = in[Channels * j];
            right[j] = in[Channels * j + Channels - 1];
        }
        for (int64_t j = 0; j < count; ++j) {
            pairs[j] = Quad{left[j], left[j], right[j], right[j]};
        }
        for (int64_t j = 0; j < count; j += 4) {
            const Quad bands = __builtin_shufflevector(state, state, 0, 0, 2, 2);
            const Quad lows = __builtin_shufflevector(state, state, 1, 1, 3, 3);
            Quad y0 = q.fromBand * state[0] + q.fromLow * state[1];
            Quad y1 = q.fromBand * state[2] + q.fromLow * state[3];
            // What the inputs give the states is summed first, off the recursion,
            // which then waits on one product and one sum only.
            Quad inputs = q.nextFromInput[0] * pairs[j];
            for (int i = 1; i < 4; ++i) {
                inputs += q.nextFromInput[i] * pairs[j + i];
            }
            for (int i = 0; i < 4; ++i) {
                y0 += q.fromInput[i] * left[j + i];
                if constexpr (Channels == 2) {
                    y1 += q.fromInput[i] * right[j + i];
                }
            }
            state = q.nextFromBand * bands + (q.nextFromLow * lows + inputs);

            const Floats4 l = __builtin_convertvector(y0, Floats4);
            const Floats4 r = Channels == 2 ? __builtin_convertvector(y1, Floats4) : l;
            const Floats8 y = __builtin_shufflevector(l, r, 0, 4, 1, 5, 2, 6, 3, 7);
            Floats8 mixed = y * gains * ramp;
            ramp += 4.0f * slope;
            float* to = out + 2 * (start + j);
            if constexpr (Add) {
                Floats8 was;
                __builtin_memcpy(&was, to, sizeof was);
                mixed += was;
            }
            __builtin_memcpy(to, &mixed, sizeof mixed);
        }
    }
    memory[0][0] = state[0];
    memory[0][1] = state[1];
    if constexpr (Channels == 2) {
        memory[1][0] = state[2];
        memory[1][1] = state[3];
    }
    return whole;
}

using QuadKernel = int64_t (*)(const float*, int64_t, const LowPassQuad&, double (*)[2],
                               const StereoTarget&);

template <int Channels, bool Add>
int64_t filterQuadsPlain(const float* frames, int64_t n, const LowPassQuad& q, double (*memory)[2],
                         const StereoTarget& t) {
    return filterQuadsBody<Channels, Add>(frames, n, q, memory, t);
}

#if defined(__x86_64__) || defined(__i386__)
// With AVX a quad is one register and FMA halves the arithmetic; the baseline
// build runs the same code two lanes at a time. The two differ only in rounding.
template <int Channels, bool Add>
[[gnu::target("avx2,fma")]] int64_t filterQuadsFma(const float* frames, int64_t n,
                                                   const LowPassQuad& q, double (*memory)[2],
                                                   const StereoTarget& t) {
    return filterQuadsBody<Channels, Add>(frames, n, q, memory, t);
}

template <int Channels, bool Add> QuadKernel chooseQuadKernel() {
    return ox::utils::cpuAllows(ox::utils::CpuFeature::Avx2Fma) ? &filterQuadsFma<Channels, Add>
                                                                : &filterQuadsPlain<Channels, Add>;
}
#else
template <int Channels, bool Add> QuadKernel chooseQuadKernel() {
    return &filterQuadsPlain<Channels, Add>;
}
#endif

template <int Channels, bool Add>
void filterQuads(const float* frames, int64_t n, const LowPassSteps& steps, double (*memory)[2],
                 const StereoTarget& t) {
    static const QuadKernel kernel = chooseQuadKernel<Channels, Add>();
    LowPassQuad q;
    __builtin_memcpy(&q, steps.quad, sizeof q);
    const LowPass& c = steps.step;
    const int64_t done = kernel(frames, n, q, memory, t);
    // The last few frames, one at a time.
    StereoTarget rest = t;
    rest.out = t.out + 2 * done;
    rest.volume = t.volume + t.slope * float(done);
    filterIntoFixed<Channels, true, Add>(frames + Channels * done, n - done, c, memory, rest);
}

template <int Channels>
void filterIntoChannels(const float* frames, int64_t n, const LowPassSteps* filter,
                        double (*memory)[2], const StereoTarget& t) {
    static const LowPass none;
    if (filter) {
        t.add ? filterQuads<Channels, true>(frames, n, *filter, memory, t)
              : filterQuads<Channels, false>(frames, n, *filter, memory, t);
    } else {
        t.add ? filterIntoFixed<Channels, false, true>(frames, n, none, memory, t)
              : filterIntoFixed<Channels, false, false>(frames, n, none, memory, t);
    }
}

} // namespace

LowPassSteps stepsFor(const LowPass& filter) {
    LowPassSteps steps{filter, {}};
    const LowPassQuad q = quadFor(filter);
    __builtin_memcpy(steps.quad, &q, sizeof q);
    return steps;
}

void filterInto(const float* frames, int channels, int64_t n, const LowPassSteps* filter,
                double (*memory)[2], const StereoTarget& target) {
    if (channels == 1) {
        filterIntoChannels<1>(frames, n, filter, memory, target);
    } else {
        filterIntoChannels<2>(frames, n, filter, memory, target);
    }
}

} // namespace voice

} // namespace ox::audio
