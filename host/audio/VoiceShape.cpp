#include <ox/audio/VoiceShape.h>
#include <ox/utils/cpu.h>

#include "VoiceModulation.h"

#include <algorithm>
#include <array>
#include <bit>
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

double envelopeAt(const Envelope& e, double t, bool convexAttack) {
    if (t < e.delay) {
        return 0.0;
    }
    t -= e.delay;
    if (t < e.attack) {
        const double x = t / e.attack;
        return convexAttack ? (x > 0.0 ? std::max(0.0, 1.0 + (40.0 / 96.0) * std::log10(x)) : 0.0)
                            : x;
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

namespace {

// (-1)^k / (2k + 1)!: sin(u) / u in powers of u^2.
constexpr std::array<double, 9> kSineSeries = [] {
    std::array<double, 9> c{};
    double factorial = 1.0;
    for (size_t k = 0; k < c.size(); ++k) {
        c[k] = (k % 2 == 0 ? 1.0 : -1.0) / factorial;
        factorial *= double((2 * k + 2) * (2 * k + 3));
    }
    return c;
}();

// sin(u) for 0 <= u <= pi / 2: the series to u^17, within 5e-14.
inline double sinQuadrant(double u) {
    return u * estrin(kSineSeries, u * u);
}

} // namespace

LowPass lowPassFor(double hz, int rate, float damping) {
    // The trapezoidal integrators prewarp the cutoff, so the response at the
    // cutoff is exact; held below Nyquist, where the tangent grows without bound.
    const double f = hz > 5.0 ? std::min(hz, 0.499 * double(rate)) : 5.0;
    // g = tan(pi f / rate) = sin / cos, the cosine as the sine of the
    // complement to keep its precision near Nyquist; a1 = 1 / (1 + g (g + k))
    // over the common denominator, a2 = g a1, a3 = g a2: one division for all.
    const double x = f / double(rate);
    const double sin = sinQuadrant(std::numbers::pi * x);
    const double cos = sinQuadrant(std::numbers::pi * (0.5 - x));
    const double r = 1.0 / (cos * cos + sin * (sin + cos * double(damping)));
    const double a1 = cos * cos * r;
    const double a2 = sin * cos * r;
    const double a3 = sin * sin * r;
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

LowPass lowPassAtCents(double cents, int rate, float damping) {
    return lowPassFor(kCentsBase * exp2Fast(cents / 1200.0), rate, damping);
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
// chain. Only the recursion needs double precision, to keep poles a hair from
// the unit circle where they are; the rest is a sum of products of inputs,
// which float holds as well as the float output does, eight lanes at a time:
// four frames of both channels, interleaved as the output wants them.
using Quad = double __attribute__((vector_size(32)));
using Floats4 = float __attribute__((vector_size(16)));
using Floats8 = float __attribute__((vector_size(32)));

// LowPassSteps' four-frame form spread over the kernel's lanes: of the
// output, lane 2j + c is frame j of channel c; of the state, lanes are
// {band left, band right, low left, low right}, so that one frame's two
// inputs, side by side, multiply both halves at once.
struct LowPassQuad {
    Floats8 fromInput[4]; ///< the output from input frame i: the impulse response, shifted by i
    Floats8 fromBand;     ///< ... from the band-pass integrators at the first frame
    Floats8 fromLow;      ///< ... from the low-pass ones
    Floats4 toState[4];   ///< the integrators four frames on, from input frame i
    Quad keep;            ///< ... from themselves now
    Quad cross;           ///< ... from the other integrator of their channel now
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

void quadInto(LowPassSteps& q, const LowPass& c) {
    // Only what differs from lane to lane: a moving cutoff asks for this every
    // block, and the kernel spreads it over its lanes with a few shuffles.
    const Matrix2 a{{{c.a00, c.a01}, {c.a10, c.a11}}};
    const Matrix2 a2 = a * a;
    const Matrix2 power[4] = {{{{1.0, 0.0}, {0.0, 1.0}}}, a, a2, a2 * a};
    const Matrix2 four = a2 * a2;
    q.impulse[0] = float(c.d);
    for (int k = 0; k < 4; ++k) {
        const Matrix2& p = power[k];
        // C A^k: what the state gives output k; A^k B: what an input gives the state k frames on.
        const double band = c.c0 * p.m[0][0] + c.c1 * p.m[1][0];
        const double low = c.c0 * p.m[0][1] + c.c1 * p.m[1][1];
        q.fromBand[k] = float(band);
        q.fromLow[k] = float(low);
        if (k < 3) {
            q.impulse[k + 1] = float(band * c.b0 + low * c.b1);
        }
        q.toBand[3 - k] = float(p.m[0][0] * c.b0 + p.m[0][1] * c.b1);
        q.toLow[3 - k] = float(p.m[1][0] * c.b0 + p.m[1][1] * c.b1);
    }
    std::copy(&four.m[0][0], &four.m[0][0] + 4, &q.four[0][0]);
}

LowPassQuad spread(const LowPassSteps& steps) {
    Floats4 h, band, low, tb, tl;
    __builtin_memcpy(&h, steps.impulse, sizeof h);
    __builtin_memcpy(&band, steps.fromBand, sizeof band);
    __builtin_memcpy(&low, steps.fromLow, sizeof low);
    __builtin_memcpy(&tb, steps.toBand, sizeof tb);
    __builtin_memcpy(&tl, steps.toLow, sizeof tl);
    const Floats4 none{};
    LowPassQuad q;
    q.fromInput[0] = __builtin_shufflevector(h, none, 0, 0, 1, 1, 2, 2, 3, 3);
    q.fromInput[1] = __builtin_shufflevector(h, none, 4, 4, 0, 0, 1, 1, 2, 2);
    q.fromInput[2] = __builtin_shufflevector(h, none, 4, 4, 4, 4, 0, 0, 1, 1);
    q.fromInput[3] = __builtin_shufflevector(h, none, 4, 4, 4, 4, 4, 4, 0, 0);
    q.fromBand = __builtin_shufflevector(band, band, 0, 0, 1, 1, 2, 2, 3, 3);
    q.fromLow = __builtin_shufflevector(low, low, 0, 0, 1, 1, 2, 2, 3, 3);
    for (int i = 0; i < 4; ++i) {
        q.toState[i] = Floats4{tb[i], tb[i], tl[i], tl[i]};
    }
    const auto& f = steps.four;
    q.keep = Quad{f[0][0], f[0][0], f[1][1], f[1][1]};
    q.cross = Quad{f[0][1], f[0][1], f[1][0], f[1][0]};
    return q;
}

/// Frame p's channels in every pair of lanes of x (a mono frame in all of
/// them). Not returned: a 32-byte vector return would differ between the builds.
template <int Channels> [[gnu::always_inline]] inline void framePairs(const float* p, Floats8& x) {
    if constexpr (Channels == 2) {
        // As one double, broadcast: one load, where a two-float vector went through the stack.
        double two;
        __builtin_memcpy(&two, p, sizeof two);
        x = reinterpret_cast<Floats8>(Quad{two, two, two, two});
    } else {
        x = Floats8{} + p[0];
    }
}

template <int Channels, bool Add>
[[gnu::always_inline]] inline int64_t filterQuadsBody(const float* frames, int64_t n,
                                                      const LowPassQuad& q, double (*memory)[2],
                                                      const StereoTarget& t) {
    constexpr int right = Channels - 1;
    Quad state{memory[0][0], memory[right][0], memory[0][1], memory[right][1]};
    const Floats8 gains{t.gains[0], t.gains[1], t.gains[0], t.gains[1],
                        t.gains[0], t.gains[1], t.gains[0], t.gains[1]};
    Floats8 ramp =
        gains * (t.volume + t.slope * Floats8{0.0f, 0.0f, 1.0f, 1.0f, 2.0f, 2.0f, 3.0f, 3.0f});
    const Floats8 rampStep = gains * (4.0f * t.slope);
    float* out = t.out;
    const int64_t whole = n & ~int64_t(3);
    for (int64_t j = 0; j < whole; j += 4) {
        Floats8 x[4];
        for (int i = 0; i < 4; ++i) {
            framePairs<Channels>(frames + Channels * (j + i), x[i]);
        }
        const Floats4 now = __builtin_convertvector(state, Floats4);
        Floats8 y = q.fromBand * __builtin_shufflevector(now, now, 0, 1, 0, 1, 0, 1, 0, 1) +
                    q.fromLow * __builtin_shufflevector(now, now, 2, 3, 2, 3, 2, 3, 2, 3);
        Floats4 inputs = q.toState[0] * __builtin_shufflevector(x[0], x[0], 0, 1, 2, 3);
        for (int i = 0; i < 4; ++i) {
            y += q.fromInput[i] * x[i];
            if (i > 0) {
                inputs += q.toState[i] * __builtin_shufflevector(x[i], x[i], 0, 1, 2, 3);
            }
        }
        // The recursion waits on two products: what the inputs give is summed off it.
        const Quad other = __builtin_shufflevector(state, state, 2, 3, 0, 1);
        state = q.cross * other + (q.keep * state + __builtin_convertvector(inputs, Quad));

        Floats8 mixed = y * ramp;
        ramp += rampStep;
        float* to = out + 2 * j;
        if constexpr (Add) {
            Floats8 was;
            __builtin_memcpy(&was, to, sizeof was);
            mixed += was;
        }
        __builtin_memcpy(to, &mixed, sizeof mixed);
    }
    memory[0][0] = state[0];
    memory[0][1] = state[2];
    if constexpr (Channels == 2) {
        memory[1][0] = state[1];
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
    const LowPassQuad q = spread(steps);
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

void setSteps(LowPassSteps& steps, const LowPass& filter) {
    steps.step = filter;
    quadInto(steps, filter);
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
