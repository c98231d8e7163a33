// GCC notes that a 32-byte vector passed by value would pass differently with
// AVX. Here such vectors pass by value only into inlined helpers (estrin() of
// four lanes), so no call between the baseline and the AVX2 code sees it.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <ox/audio/VoiceShape.h>
#include <ox/utils/cpu.h>

#include "RenderKernels.h"
#include "VoiceModulation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <type_traits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

/// A low-pass's coefficients, one step's or (T a vector) several steps' side by side.
template <class T> struct Coefficients { T a00, a01, a10, a11, b0, b1, c0, c1, d; };

template <class T> struct Matrix2T {
    T m[2][2];
    [[gnu::always_inline]] Matrix2T operator*(const Matrix2T& o) const {
        Matrix2T r;
        for (int i = 0; i < 2; ++i) {
            for (int j = 0; j < 2; ++j) {
                r.m[i][j] = m[i][0] * o.m[0][j] + m[i][1] * o.m[1][j];
            }
        }
        return r;
    }
};

/// The 24 values of the four-frame form that differ from lane to lane.
template <class T> struct QuadValues {
    T h[4];                                   ///< the impulse response: D, then C A^(k-1) B
    T band[4];                                ///< C A^k, from the band-pass integrator
    T low[4];                                 ///< ... from the low-pass one
    T toBand[4];                              ///< A^(3-i) B, into the band-pass integrator
    T toLow[4];                               ///< ... into the low-pass one
    T keepBand, keepLow, crossBand, crossLow; ///< A^4
};

template <class T>
[[gnu::always_inline]] inline QuadValues<T> quadValues(const Coefficients<T>& c) {
    const T zero{}, one = zero + 1.0;
    const Matrix2T<T> a{{{c.a00, c.a01}, {c.a10, c.a11}}};
    const Matrix2T<T> a2 = a * a;
    const Matrix2T<T> power[4] = {{{{one, zero}, {zero, one}}}, a, a2, a2 * a};
    const Matrix2T<T> four = a2 * a2;
    QuadValues<T> v;
    v.h[0] = c.d;
    for (int k = 0; k < 4; ++k) {
        const Matrix2T<T>& p = power[k];
        // C A^k: what the state gives output k; A^k B: what an input gives the state k frames on.
        v.band[k] = c.c0 * p.m[0][0] + c.c1 * p.m[1][0];
        v.low[k] = c.c0 * p.m[0][1] + c.c1 * p.m[1][1];
        if (k < 3) {
            v.h[k + 1] = v.band[k] * c.b0 + v.low[k] * c.b1;
        }
        v.toBand[3 - k] = p.m[0][0] * c.b0 + p.m[0][1] * c.b1;
        v.toLow[3 - k] = p.m[1][0] * c.b0 + p.m[1][1] * c.b1;
    }
    v.keepBand = four.m[0][0];
    v.keepLow = four.m[1][1];
    v.crossBand = four.m[0][1];
    v.crossLow = four.m[1][0];
    return v;
}

/// Spreads one step's values (each four-value group as a float vector) over the kernels' lanes.
[[gnu::always_inline]] inline void spread(LowPassQuad& q, const Floats4& h, const Floats4& band,
                                          const Floats4& low, const Floats4& tb, const Floats4& tl,
                                          double keepBand, double keepLow, double crossBand,
                                          double crossLow) {
    const Floats4 none{};
    q.fromInput[0] = __builtin_shufflevector(h, none, 0, 0, 1, 1, 2, 2, 3, 3);
    q.fromInput[1] = __builtin_shufflevector(h, none, 4, 4, 0, 0, 1, 1, 2, 2);
    q.fromInput[2] = __builtin_shufflevector(h, none, 4, 4, 4, 4, 0, 0, 1, 1);
    q.fromInput[3] = __builtin_shufflevector(h, none, 4, 4, 4, 4, 4, 4, 0, 0);
    q.fromBand = __builtin_shufflevector(band, band, 0, 0, 1, 1, 2, 2, 3, 3);
    q.fromLow = __builtin_shufflevector(low, low, 0, 0, 1, 1, 2, 2, 3, 3);
    const Floats4 lo = __builtin_shufflevector(tb, tl, 0, 0, 4, 4);
    const Floats4 hi = __builtin_shufflevector(tb, tl, 1, 1, 5, 5);
    const Floats4 lo2 = __builtin_shufflevector(tb, tl, 2, 2, 6, 6);
    const Floats4 hi2 = __builtin_shufflevector(tb, tl, 3, 3, 7, 7);
    q.toState[0] = lo;
    q.toState[1] = hi;
    q.toState[2] = lo2;
    q.toState[3] = hi2;
    q.keep = Doubles4{keepBand, keepBand, keepLow, keepLow};
    q.cross = Doubles4{crossBand, crossBand, crossLow, crossLow};
}

Floats4 floats(const double (&v)[4]) {
    return Floats4{float(v[0]), float(v[1]), float(v[2]), float(v[3])};
}

void quadInto(LowPassQuad& q, const LowPass& c) {
    const QuadValues<double> v =
        quadValues(Coefficients<double>{c.a00, c.a01, c.a10, c.a11, c.b0, c.b1, c.c0, c.c1, c.d});
    spread(q, floats(v.h), floats(v.band), floats(v.low), floats(v.toBand), floats(v.toLow),
           v.keepBand, v.keepLow, v.crossBand, v.crossLow);
}

/// Frame p's channels in every pair of lanes of x (a mono frame in all of
/// them). Not returned: a 32-byte vector return would differ between the builds.
template <int Channels> [[gnu::always_inline]] inline void framePairs(const float* p, Floats8& x) {
    if constexpr (Channels == 2) {
        // As one double, broadcast: one load, where a two-float vector went through the stack.
        double two;
        __builtin_memcpy(&two, p, sizeof two);
        x = reinterpret_cast<Floats8>(Doubles4{two, two, two, two});
    } else {
        x = Floats8{} + p[0];
    }
}

/// The four-frame filter's integrators and the volume line of its output.
template <int Channels> struct QuadFilter {
    static constexpr int right = Channels - 1;
    Doubles4 state;
    Floats8 ramp, rampStep;

    [[gnu::always_inline]] QuadFilter(const double (*memory)[2], const StereoTarget& t)
        : state{memory[0][0], memory[right][0], memory[0][1], memory[right][1]} {
        const Floats8 gains{t.gains[0], t.gains[1], t.gains[0], t.gains[1],
                            t.gains[0], t.gains[1], t.gains[0], t.gains[1]};
        ramp =
            gains * (t.volume + t.slope * Floats8{0.0f, 0.0f, 1.0f, 1.0f, 2.0f, 2.0f, 3.0f, 3.0f});
        rampStep = gains * (4.0f * t.slope);
    }

    /// Filters four frames, x[i] holding frame i's channels in each pair of
    /// lanes, and adds (or writes) them into `to`.
    template <bool Add>
    [[gnu::always_inline]] void step(const LowPassQuad& q, const Floats8 (&x)[4], float* to) {
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
        const Doubles4 other = __builtin_shufflevector(state, state, 2, 3, 0, 1);
        state = q.cross * other + (q.keep * state + __builtin_convertvector(inputs, Doubles4));

        Floats8 mixed = y * ramp;
        ramp += rampStep;
        if constexpr (Add) {
            Floats8 was;
            __builtin_memcpy(&was, to, sizeof was);
            mixed += was;
        }
        __builtin_memcpy(to, &mixed, sizeof mixed);
    }

    [[gnu::always_inline]] void save(double (*memory)[2]) const {
        memory[0][0] = state[0];
        memory[0][1] = state[2];
        if constexpr (Channels == 2) {
            memory[1][0] = state[1];
            memory[1][1] = state[3];
        }
    }
};

template <int Channels, bool Add>
[[gnu::always_inline]] inline int64_t filterQuadsBody(const float* frames, int64_t n,
                                                      const LowPassQuad& q, double (*memory)[2],
                                                      const StereoTarget& t) {
    QuadFilter<Channels> filter(memory, t);
    const int64_t whole = n & ~int64_t(3);
    for (int64_t j = 0; j < whole; j += 4) {
        Floats8 x[4];
        for (int i = 0; i < 4; ++i) {
            framePairs<Channels>(frames + Channels * (j + i), x[i]);
        }
        filter.template step<Add>(q, x, t.out + 2 * j);
    }
    filter.save(memory);
    return whole;
}

#ifdef OX_AUDIO_SSE2
/// The cubic's four frames filtered as they come: the same arithmetic as the
/// cubic writing into a scratch and filterQuadsBody() reading it back.
template <class Sample, int Channels, bool Add>
[[gnu::always_inline]] inline void cubicFilterBody(const CubicFrames<Sample>& f,
                                                   const LowPassQuad& q, double (*memory)[2],
                                                   const StereoTarget& t) {
    QuadFilter<Channels> filter(memory, t);
    kernels::Lanes<1> gains(f.ramp, 1, _mm_set1_ps(1.0f));
    const __m128 factor = _mm_set1_ps(f.factor);
    float* out = t.out;
    kernels::cubicQuads<Sample, Channels>(
        f.data, f.shift, f.phase, f.step,
        f.n, [&](int64_t j, kernels::Quad v) __attribute__((always_inline)) {
            const __m128 g = _mm_mul_ps(gains.next(), factor);
            const Floats4 a = Floats4(_mm_mul_ps(v.a, g));
            Floats8 x[4];
            if constexpr (Channels == 2) {
                const Floats4 b = Floats4(_mm_mul_ps(v.b, g));
                const Floats4 lo = __builtin_shufflevector(a, b, 0, 4, 1, 5);
                const Floats4 hi = __builtin_shufflevector(a, b, 2, 6, 3, 7);
                x[0] = __builtin_shufflevector(lo, lo, 0, 1, 0, 1, 0, 1, 0, 1);
                x[1] = __builtin_shufflevector(lo, lo, 2, 3, 2, 3, 2, 3, 2, 3);
                x[2] = __builtin_shufflevector(hi, hi, 0, 1, 0, 1, 0, 1, 0, 1);
                x[3] = __builtin_shufflevector(hi, hi, 2, 3, 2, 3, 2, 3, 2, 3);
            } else {
                x[0] = __builtin_shufflevector(a, a, 0, 0, 0, 0, 0, 0, 0, 0);
                x[1] = __builtin_shufflevector(a, a, 1, 1, 1, 1, 1, 1, 1, 1);
                x[2] = __builtin_shufflevector(a, a, 2, 2, 2, 2, 2, 2, 2, 2);
                x[3] = __builtin_shufflevector(a, a, 3, 3, 3, 3, 3, 3, 3, 3);
            }
            filter.template step<Add>(q, x, out + 2 * j);
        });
    filter.save(memory);
}
#endif

using QuadKernel = int64_t (*)(const float*, int64_t, const LowPassQuad&, double (*)[2],
                               const StereoTarget&);
template <class Sample>
using CubicKernel = void (*)(const CubicFrames<Sample>&, const LowPassQuad&, double (*)[2],
                             const StereoTarget&);

template <int Channels, bool Add>
int64_t filterQuadsPlain(const float* frames, int64_t n, const LowPassQuad& q, double (*memory)[2],
                         const StereoTarget& t) {
    return filterQuadsBody<Channels, Add>(frames, n, q, memory, t);
}

#ifdef OX_AUDIO_SSE2
template <class Sample, int Channels, bool Add>
void cubicFilterPlain(const CubicFrames<Sample>& f, const LowPassQuad& q, double (*memory)[2],
                      const StereoTarget& t) {
    cubicFilterBody<Sample, Channels, Add>(f, q, memory, t);
}
#endif

#if defined(__x86_64__) || defined(__i386__)
// With AVX a quad is one register and FMA halves the arithmetic; the baseline
// build runs the same code two lanes at a time. The two differ only in rounding.
template <int Channels, bool Add>
[[gnu::target("avx2,fma")]] int64_t filterQuadsFma(const float* frames, int64_t n,
                                                   const LowPassQuad& q, double (*memory)[2],
                                                   const StereoTarget& t) {
    return filterQuadsBody<Channels, Add>(frames, n, q, memory, t);
}

template <class Sample, int Channels, bool Add>
[[gnu::target("avx2,fma")]] void cubicFilterFma(const CubicFrames<Sample>& f, const LowPassQuad& q,
                                                double (*memory)[2], const StereoTarget& t) {
    cubicFilterBody<Sample, Channels, Add>(f, q, memory, t);
}

// 16-bit stereo, the common case, eight frames at a time: the four-frame
// loop is bound by its shuffles, one port's work, and AVX2's unpack two
// 128-bit halves at once. The filter's inputs go through the stack: loaded
// from there as broadcast pairs they cost a load each, not a shuffle. The
// two run as two loops over up to 64 frames: in one loop they need more
// registers than there are, and the recursion's state went to the stack.
#define OX_WIDE [[gnu::target("avx2,fma"), gnu::always_inline]] inline

/// A frame's pair of channels at p, in every pair of lanes.
OX_WIDE __m256 pairAt(const float* p) {
    return _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(p)));
}

/// The cubic, eight frames of a 16-bit stereo source at a time.
struct WideCubic {
    const int16_t* data;
    int64_t shift;
    uint64_t phase, step;
    __m256i fractions, fractionStep;
    __m256 envelope, envelopeRatio, envelopeSlope, factor;

    OX_WIDE WideCubic(const CubicFrames<int16_t>& f)
        : data(f.data), shift(f.shift), phase(f.phase), step(f.step) {
        fractions = _mm256_setr_epi32(int32_t(phase), int32_t(phase + step),
                                      int32_t(phase + 2 * step), int32_t(phase + 3 * step),
                                      int32_t(phase + 4 * step), int32_t(phase + 5 * step),
                                      int32_t(phase + 6 * step), int32_t(phase + 7 * step));
        fractionStep = _mm256_set1_epi32(int32_t(8 * step));
        // The envelope's gains of eight frames, moved on eight frames at a
        // time as kernels::Lanes moves four.
        float start[8];
        double level = f.ramp.start, power = 1.0, sum = 0.0;
        for (int k = 0; k < 8; ++k) {
            start[k] = float(f.ramp.gain * level);
            level = level * f.ramp.ratio + f.ramp.slope;
            sum += power;
            power *= f.ramp.ratio;
        }
        envelope = _mm256_loadu_ps(start);
        envelopeRatio = _mm256_set1_ps(float(power));
        envelopeSlope = _mm256_set1_ps(float(f.ramp.gain * f.ramp.slope * sum));
        factor = _mm256_set1_ps(f.factor);
    }

    /// The next eight frames, interleaved: frames 0, 1, 4, 5 in `lo`, 2, 3, 6, 7 in `hi`.
    OX_WIDE void next(__m256& lo, __m256& hi) {
        const int16_t* p[8];
        for (int k = 0; k < 8; ++k, phase += step) {
            p[k] = data + (shift + kernels::whole(phase) - 1) * 2;
        }
        // Frames k and k + 4 side by side, each half as loadNeighbours() takes it.
        __m256i r[4];
        for (int k = 0; k < 4; ++k) {
            r[k] = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p[k]))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[k + 4])), 1);
        }
        const __m256i a = _mm256_unpacklo_epi16(r[0], r[1]), b = _mm256_unpacklo_epi16(r[2], r[3]);
        const __m256i c = _mm256_unpackhi_epi16(r[0], r[1]), d = _mm256_unpackhi_epi16(r[2], r[3]);
        const __m256i nb[4] = {_mm256_unpacklo_epi32(a, b), _mm256_unpackhi_epi32(a, b),
                               _mm256_unpacklo_epi32(c, d), _mm256_unpackhi_epi32(c, d)};
        const __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(fractions, 8)),
                                       _mm256_set1_ps(1.0f / 16777216.0f));
        fractions = _mm256_add_epi32(fractions, fractionStep);
        // cubicWeights(), eight frames at once.
        const __m256 ht = _mm256_mul_ps(_mm256_set1_ps(0.5f), t), h2 = _mm256_mul_ps(ht, t);
        const __m256 h3 = _mm256_mul_ps(h2, t);
        const __m256 t2 = _mm256_add_ps(h2, h2), h33 = _mm256_mul_ps(_mm256_set1_ps(3.0f), h3);
        const __m256 w[4] = {
            _mm256_sub_ps(_mm256_sub_ps(t2, ht), h3),
            _mm256_add_ps(_mm256_set1_ps(1.0f),
                          _mm256_sub_ps(h33, _mm256_mul_ps(_mm256_set1_ps(5.0f), h2))),
            _mm256_add_ps(ht, _mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(4.0f), h2), h33)),
            _mm256_sub_ps(h3, h2)};
        const __m256i zero = _mm256_setzero_si256();
        __m256 v[2];
        for (int ch = 0; ch < 2; ++ch) {
            __m256 y[4];
            for (int k = 0; k < 4; ++k) {
                y[k] = _mm256_cvtepi32_ps(ch == 0 ? _mm256_unpacklo_epi16(zero, nb[k])
                                                  : _mm256_unpackhi_epi16(zero, nb[k]));
            }
            // In pairs: a shorter chain than one sum after another.
            v[ch] = _mm256_add_ps(_mm256_fmadd_ps(w[1], y[1], _mm256_mul_ps(w[0], y[0])),
                                  _mm256_fmadd_ps(w[3], y[3], _mm256_mul_ps(w[2], y[2])));
        }
        const __m256 g = _mm256_mul_ps(envelope, factor);
        envelope = _mm256_fmadd_ps(envelope, envelopeRatio, envelopeSlope);
        const __m256 left = _mm256_mul_ps(v[0], g), right = _mm256_mul_ps(v[1], g);
        lo = _mm256_unpacklo_ps(left, right);
        hi = _mm256_unpackhi_ps(left, right);
    }
};

/// The four-frame filter as QuadFilter, inputs read from memory.
struct WideFilter {
    __m256d state;
    __m256 ramp, rampStep;

    OX_WIDE WideFilter(const double (*memory)[2], const StereoTarget& t) {
        state = _mm256_setr_pd(memory[0][0], memory[1][0], memory[0][1], memory[1][1]);
        const __m256 gains = _mm256_setr_ps(t.gains[0], t.gains[1], t.gains[0], t.gains[1],
                                            t.gains[0], t.gains[1], t.gains[0], t.gains[1]);
        ramp = _mm256_mul_ps(gains, _mm256_fmadd_ps(_mm256_set1_ps(t.slope),
                                                    _mm256_setr_ps(0, 0, 1, 1, 2, 2, 3, 3),
                                                    _mm256_set1_ps(t.volume)));
        rampStep = _mm256_mul_ps(gains, _mm256_set1_ps(4.0f * t.slope));
    }

    /// Four frames, frame i's pair at `pairs + at[i]`, added (or written) into `to`.
    template <bool Add>
    OX_WIDE void step(const LowPassQuad& q, const float* pairs, const int* at, float* to) {
        __m256 x[4];
        for (int i = 0; i < 4; ++i) {
            x[i] = pairAt(pairs + at[i]);
        }
        // A local: were it a member, the state would live on the stack too,
        // and the recursion would wait on a store and a load every step.
        alignas(16) float now[4];
        _mm_store_ps(now, _mm256_cvtpd_ps(state));
        const __m256 fromState = _mm256_fmadd_ps(Floats8(q.fromLow), pairAt(now + 2),
                                                 _mm256_mul_ps(Floats8(q.fromBand), pairAt(now)));
        const __m256 fromInputs =
            _mm256_add_ps(_mm256_fmadd_ps(Floats8(q.fromInput[1]), x[1],
                                          _mm256_mul_ps(Floats8(q.fromInput[0]), x[0])),
                          _mm256_fmadd_ps(Floats8(q.fromInput[3]), x[3],
                                          _mm256_mul_ps(Floats8(q.fromInput[2]), x[2])));
        const __m128 inputs = _mm_add_ps(
            _mm_fmadd_ps(Floats4(q.toState[1]), _mm256_castps256_ps128(x[1]),
                         _mm_mul_ps(Floats4(q.toState[0]), _mm256_castps256_ps128(x[0]))),
            _mm_fmadd_ps(Floats4(q.toState[3]), _mm256_castps256_ps128(x[3]),
                         _mm_mul_ps(Floats4(q.toState[2]), _mm256_castps256_ps128(x[2]))));
        // The recursion waits on two products: what the inputs give is summed off it.
        const __m256d other = _mm256_permute4x64_pd(state, 0x4e);
        state = _mm256_fmadd_pd(Doubles4(q.cross), other,
                                _mm256_fmadd_pd(Doubles4(q.keep), state, _mm256_cvtps_pd(inputs)));
        __m256 mixed = _mm256_mul_ps(_mm256_add_ps(fromInputs, fromState), ramp);
        ramp = _mm256_add_ps(ramp, rampStep);
        if constexpr (Add) {
            mixed = _mm256_add_ps(mixed, _mm256_loadu_ps(to));
        }
        _mm256_storeu_ps(to, mixed);
    }

    OX_WIDE void save(double (*memory)[2]) const {
        alignas(32) double s[4];
        _mm256_store_pd(s, state);
        memory[0][0] = s[0];
        memory[1][0] = s[1];
        memory[0][1] = s[2];
        memory[1][1] = s[3];
    }
};

template <bool Add>
[[gnu::target("avx2,fma")]] void cubicFilterWide(const CubicFrames<int16_t>& f,
                                                 const LowPassQuad& q, double (*memory)[2],
                                                 const StereoTarget& t) {
    const int64_t n = f.n & ~int64_t(7);
    WideCubic cubic(f);
    WideFilter filter(memory, t);
    // Where frame i's pair lies once both interleaved halves are stored.
    static constexpr int kPairAt[8] = {0, 2, 8, 10, 4, 6, 12, 14};
    constexpr int64_t kChunk = 64;
    alignas(32) float pairs[2 * kChunk];
    float* out = t.out;
    for (int64_t done = 0; done < n; done += kChunk) {
        const int64_t m = std::min(kChunk, n - done);
        for (int64_t j = 0; j < m; j += 8) {
            __m256 lo, hi;
            cubic.next(lo, hi);
            _mm256_store_ps(pairs + 2 * j, lo);
            _mm256_store_ps(pairs + 2 * j + 8, hi);
        }
        for (int64_t j = 0; j < m; j += 8, out += 16) {
            filter.step<Add>(q, pairs + 2 * j, kPairAt, out);
            filter.step<Add>(q, pairs + 2 * j, kPairAt + 4, out + 8);
        }
    }
    filter.save(memory);
    if (n < f.n) {
        // Four frames left: the four-frame loop.
        CubicFrames<int16_t> rest = f;
        rest.phase = f.phase + uint64_t(n) * f.step;
        rest.n = f.n - n;
        rest.ramp = f.ramp.after(n);
        StereoTarget after = t;
        after.out = t.out + 2 * n;
        after.volume = t.volume + t.slope * float(n);
        cubicFilterFma<int16_t, 2, Add>(rest, q, memory, after);
    }
}

#undef OX_WIDE

bool useFma() {
    return ox::utils::cpuAllows(ox::utils::CpuFeature::Avx2Fma);
}

template <int Channels, bool Add> QuadKernel chooseQuadKernel() {
    return useFma() ? &filterQuadsFma<Channels, Add> : &filterQuadsPlain<Channels, Add>;
}

template <class Sample, int Channels, bool Add> CubicKernel<Sample> chooseCubicKernel() {
    if constexpr (std::is_same_v<Sample, int16_t> && Channels == 2) {
        if (useFma()) {
            return &cubicFilterWide<Add>;
        }
    }
    return useFma() ? &cubicFilterFma<Sample, Channels, Add>
                    : &cubicFilterPlain<Sample, Channels, Add>;
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
    const int64_t done = kernel(frames, n, steps.quad, memory, t);
    // The last few frames, one at a time.
    StereoTarget rest = t;
    rest.out = t.out + 2 * done;
    rest.volume = t.volume + t.slope * float(done);
    filterIntoFixed<Channels, true, Add>(frames + Channels * done, n - done, steps.step, memory,
                                         rest);
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

#ifdef OX_AUDIO_SSE2
template <class Sample>
void filterCubicOf(const CubicFrames<Sample>& frames, int channels, const FilterSink& sink,
                   int64_t at) {
    static const CubicKernel<Sample> kernels[2][2] = {
        {chooseCubicKernel<Sample, 1, false>(), chooseCubicKernel<Sample, 1, true>()},
        {chooseCubicKernel<Sample, 2, false>(), chooseCubicKernel<Sample, 2, true>()}};
    StereoTarget t = sink.target;
    t.out += 2 * at;
    t.volume += t.slope * float(at);
    kernels[channels - 1][t.add](frames, sink.filter->quad, sink.memory, t);
}
#endif

} // namespace

namespace {

using Int64s4 = int64_t __attribute__((vector_size(32)));

// exp2Fast(), four at a time, in place (by reference: see Doubles4).
[[gnu::always_inline]] inline void exp2Quad(Doubles4& v) {
    const Doubles4 x = v > -1000.0 ? (v < 1000.0 ? v : 1000.0) : -1000.0;
    // x + 1.5 * 2^52 holds x rounded to a whole number in its low bits.
    constexpr double kRound = 6755399441055744.0;
    const Doubles4 shifted = x + kRound;
    const Doubles4 f = x - (shifted - kRound);
    const Int64s4 whole = reinterpret_cast<Int64s4>(shifted) - std::bit_cast<int64_t>(kRound);
    v = estrin(kExp2Series, f) * reinterpret_cast<Doubles4>((whole + 1023) << 52);
}

/// Four doubles from `p`, of which `n` are there (the rest repeat the first).
/// A copy of a variable size would be a call: the common whole quad is one load.
[[gnu::always_inline]] inline void loadQuad(Doubles4& v, const double* p, int n) {
    if (n >= 4) {
        __builtin_memcpy(&v, p, sizeof(v));
        return;
    }
    for (int i = 0; i < 4; ++i) {
        v[i] = p[i < n ? i : 0];
    }
}

/// The first `n` (up to four) of `v` into `p`.
[[gnu::always_inline]] inline void storeQuad(const Doubles4& v, double* p, int n) {
    if (n >= 4) {
        __builtin_memcpy(p, &v, sizeof(v));
        return;
    }
    for (int i = 0; i < n; ++i) {
        p[i] = v[i];
    }
}

// Rows to columns: lane k of each g[i], as the floats of step k.
[[gnu::always_inline]] inline void columns(const Doubles4 (&g)[4], Floats4 (&t)[4]) {
    Floats4 r[4];
    for (int i = 0; i < 4; ++i) {
        r[i] = __builtin_convertvector(g[i], Floats4);
    }
    const Floats4 a = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
    const Floats4 b = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
    const Floats4 c = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
    const Floats4 d = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
    t[0] = __builtin_shufflevector(a, c, 0, 1, 4, 5);
    t[1] = __builtin_shufflevector(a, c, 2, 3, 6, 7);
    t[2] = __builtin_shufflevector(b, d, 0, 1, 4, 5);
    t[3] = __builtin_shufflevector(b, d, 2, 3, 6, 7);
}

// lowPassAtCents() and setSteps() of up to four steps, side by side.
[[gnu::always_inline]] inline void setQuadAtCents(LowPassSteps* const* steps, const double* cents,
                                                  int n, int rate, float damping) {
    Doubles4 hz;
    loadQuad(hz, cents, n);
    hz *= 1.0 / 1200.0;
    exp2Quad(hz);
    hz *= kCentsBase;
    const Doubles4 f = hz > 5.0 ? (hz < 0.499 * double(rate) ? hz : 0.499 * double(rate)) : 5.0;
    const Doubles4 x = f / double(rate);
    const Doubles4 us = std::numbers::pi * x, uc = std::numbers::pi * (0.5 - x);
    const Doubles4 sin = us * estrin(kSineSeries, us * us);
    const Doubles4 cos = uc * estrin(kSineSeries, uc * uc);
    const Doubles4 r = 1.0 / (cos * cos + sin * (sin + cos * double(damping)));
    const Doubles4 a1 = cos * cos * r, a2 = sin * cos * r, a3 = sin * sin * r;
    const Coefficients<Doubles4> c{
        2.0 * a1 - 1.0, -2.0 * a2, 2.0 * a2, 1.0 - 2.0 * a3, 2.0 * a2, 2.0 * a3, a2, 1.0 - a3, a3};
    const QuadValues<Doubles4> v = quadValues(c);
    Floats4 h[4], band[4], low[4], tb[4], tl[4];
    columns(v.h, h);
    columns(v.band, band);
    columns(v.low, low);
    columns(v.toBand, tb);
    columns(v.toLow, tl);
    for (int k = 0; k < std::min(n, 4); ++k) {
        LowPassSteps& s = *steps[k];
        s.step = {c.a00[k], c.a01[k], c.a10[k], c.a11[k], c.b0[k],
                  c.b1[k],  c.c0[k],  c.c1[k],  c.d[k]};
        spread(s.quad, h[k], band[k], low[k], tb[k], tl[k], v.keepBand[k], v.keepLow[k],
               v.crossBand[k], v.crossLow[k]);
    }
}

[[gnu::always_inline]] inline void stepsAtCentsBody(LowPassSteps* const* steps, const double* cents,
                                                    int n, int rate, float damping) {
    for (int k = 0; k < n; k += 4) {
        setQuadAtCents(steps + k, cents + k, n - k, rate, damping);
    }
}

[[gnu::always_inline]] inline void exp2EachBody(double* x, int n) {
    for (int k = 0; k < n; k += 4) {
        Doubles4 y;
        loadQuad(y, x + k, n - k);
        exp2Quad(y);
        storeQuad(y, x + k, n - k);
    }
}

using StepsKernel = void (*)(LowPassSteps* const*, const double*, int, int, float);
using Exp2Kernel = void (*)(double*, int);

void stepsAtCentsPlain(LowPassSteps* const* steps, const double* cents, int n, int rate,
                       float damping) {
    stepsAtCentsBody(steps, cents, n, rate, damping);
}

void exp2EachPlain(double* x, int n) {
    exp2EachBody(x, n);
}

#if defined(__x86_64__) || defined(__i386__)
// Without AVX a vector of four doubles is two registers, and these are long
// chains of them: a moving cutoff's coefficients cost as much as rendering.
[[gnu::target("avx2,fma")]] void stepsAtCentsFma(LowPassSteps* const* steps, const double* cents,
                                                 int n, int rate, float damping) {
    stepsAtCentsBody(steps, cents, n, rate, damping);
}

[[gnu::target("avx2,fma")]] void exp2EachFma(double* x, int n) {
    exp2EachBody(x, n);
}

StepsKernel chooseStepsKernel() {
    return useFma() ? &stepsAtCentsFma : &stepsAtCentsPlain;
}

Exp2Kernel chooseExp2Kernel() {
    return useFma() ? &exp2EachFma : &exp2EachPlain;
}
#else
StepsKernel chooseStepsKernel() {
    return &stepsAtCentsPlain;
}

Exp2Kernel chooseExp2Kernel() {
    return &exp2EachPlain;
}
#endif

} // namespace

void setStepsAtCents(LowPassSteps* const* steps, const double* cents, int n, int rate,
                     float damping) {
    static const StepsKernel kernel = chooseStepsKernel();
    kernel(steps, cents, n, rate, damping);
}

void exp2Each(double* x, int n) {
    static const Exp2Kernel kernel = chooseExp2Kernel();
    kernel(x, n);
}

void setSteps(LowPassSteps& steps, const LowPass& filter) {
    steps.step = filter;
    quadInto(steps.quad, filter);
}

void filterInto(const float* frames, int channels, int64_t n, const LowPassSteps* filter,
                double (*memory)[2], const StereoTarget& target) {
    if (channels == 1) {
        filterIntoChannels<1>(frames, n, filter, memory, target);
    } else {
        filterIntoChannels<2>(frames, n, filter, memory, target);
    }
}

#ifdef OX_AUDIO_SSE2
void filterCubic(const CubicFrames<int16_t>& frames, int channels, const FilterSink& sink,
                 int64_t at) {
    filterCubicOf(frames, channels, sink, at);
}

void filterCubic(const CubicFrames<float>& frames, int channels, const FilterSink& sink,
                 int64_t at) {
    filterCubicOf(frames, channels, sink, at);
}
#endif

} // namespace voice

} // namespace ox::audio
