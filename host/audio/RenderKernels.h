#pragma once

// The inner loops of TQ7SamplePlayer's rendering. They read a stream's frames in
// place (16-bit or float), interpolate at 32.32 fixed-point positions, and
// write or add the result into the output with a gain per frame and per output
// channel, in one pass. Mono and stereo sources into mono or stereo output go
// four frames at a time through SSE2 (part of every x86-64); every other case,
// and every other processor, one frame at a time.

#include <ox/audio/AudioStream.h>

#include <cstdint>
#include <type_traits>
#include <vector>

#if defined(__SSE2__) && !defined(OX_AUDIO_SCALAR)
#include <emmintrin.h>
#define OX_AUDIO_SSE2 1
#endif

namespace ox::audio::kernels {

/// A position in source frames, 32.32 fixed point, counted from a run's first frame.
constexpr double kUnit = 4294967296.0;

inline int64_t whole(uint64_t phase) {
    return int64_t(phase >> 32);
}

/// The fraction of a position, to 24 bits, exactly as the vector loops take it.
inline float fraction(uint64_t phase) {
    return float(int32_t(uint32_t(phase) >> 8)) * (1.0f / 16777216.0f);
}

enum class Kind { Copy, Cubic, Sinc };

// The windowed sinc: kSincTaps neighbours, the first at kSincHalf - 1 frames
// before the position's frame, tabulated at kSincPhases fractions.
constexpr int kSincHalf = 16;
constexpr int kSincTaps = 2 * kSincHalf;
constexpr int kSincPhases = 512;
/// Transposing up narrows the kernel by the step, widening it in frames, up to this factor.
constexpr float kMaxSincScale = 8.0f;
constexpr int kMaxSincTaps = 2 * int(kSincHalf * kMaxSincScale) + 1;

/// The windowed sinc, tabulated twice; built once, on first use.
struct SincTable {
    /// Row p: the weights of the kSincTaps neighbours at fraction p / kSincPhases,
    /// then how much each changes up to the next row.
    std::vector<float> rows;
    /// The kernel from -kSincHalf to kSincHalf in steps of 1 / kSincPhases: each
    /// point's value and its change to the next, side by side.
    std::vector<float> points;
};
const SincTable& sincTable();

/// Frames a kernel reads before and after the frame of its position.
struct Reach {
    int before = 0;
    int after = 0;
};

/// What one run needs to interpolate: the kind, the step, and for the sinc the
/// narrowing (1 when not transposing up) and the table.
struct Setup {
    Kind kind = Kind::Copy;
    uint64_t step = uint64_t(1) << 32;
    float scale = 1.0f;
    const SincTable* sinc = nullptr;
    Reach reach;
};

/// Catmull-Rom weights of the four neighbours at fraction t (the vector loop
/// computes the same expressions).
struct CubicWeights {
    float w0, w1, w2, w3;
};

inline CubicWeights cubicWeights(float t) {
    const float ht = 0.5f * t, h2 = ht * t, h3 = h2 * t, t2 = h2 + h2, h33 = 3.0f * h3;
    return {(t2 - ht) - h3, 1.0f + (h33 - 5.0f * h2), ht + (4.0f * h2 - h33), h3 - h2};
}

/// The sinc weights at fraction t into `w` (setup.reach.before + after + 1 of
/// them when transposing up, kSincTaps otherwise); returns their count.
int sincWeights(const Setup& setup, float t, float* w);

/// Weighted sum of `taps` frames from `y` for each of `channels` channels.
void dot(const int16_t* y, int channels, const float* w, int taps, float* out);
void dot(const float* y, int channels, const float* w, int taps, float* out);

/// One frame at a time, any layout: `n` frames at positions phase, phase + step...
/// interpolated from `data` (frame i of the run at data + (shift + i) * channels),
/// times `scale`, into `frames` (n × channels).
template <class Sample>
void interpolate(const Setup& setup, const Sample* data, int64_t shift, int channels,
                 uint64_t phase, int64_t n, float scale, float* frames) {
    for (int64_t j = 0; j < n; ++j, phase += setup.step, frames += channels) {
        const Sample* y = data + (shift + whole(phase) - setup.reach.before) * channels;
        if (setup.kind == Kind::Copy) {
            for (int c = 0; c < channels; ++c) {
                frames[c] = float(y[c]) * scale;
            }
        } else if (setup.kind == Kind::Cubic) {
            const CubicWeights w = cubicWeights(fraction(phase));
            for (int c = 0; c < channels; ++c) {
                frames[c] = (((w.w0 * float(y[c]) + w.w1 * float(y[channels + c])) +
                              w.w2 * float(y[2 * channels + c])) +
                             w.w3 * float(y[3 * channels + c])) *
                            scale;
            }
        } else {
            float w[kMaxSincTaps];
            const int taps = sincWeights(setup, fraction(phase), w);
            dot(y, channels, w, taps, frames);
            for (int c = 0; c < channels; ++c) {
                frames[c] *= scale;
            }
        }
    }
}

/// Adds (or writes) `n` interpolated frames into `out`: frame j times the ramp's
/// gain of frame j, output channel c times channelGains[c] (null: 1); the ramp
/// is left at frame n. Equal layouts map channel to channel, a mono source goes
/// to every channel, mono output averages the source channels, other layouts
/// repeat the source channels in order.
void mapFrames(const float* frames, int inChannels, int64_t n, GainRamp& ramp, float* out,
               int outChannels, const float* channelGains, bool add);

#ifdef OX_AUDIO_SSE2

/// Four frames of a mono or stereo source, one vector per channel (b = a for mono).
struct Quad {
    __m128 a, b;
};

/// Four consecutive frames from p. 16-bit samples come out 65536 times their value.
template <int In> inline Quad loadFrames(const int16_t* p) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (In == 1) {
        const __m128 a = _mm_cvtepi32_ps(
            _mm_unpacklo_epi16(zero, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
        return {a, a};
    } else {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i left = _mm_slli_epi32(x, 16);
        const __m128i right = _mm_and_si128(x, _mm_set1_epi32(int32_t(0xffff0000u)));
        return {_mm_cvtepi32_ps(left), _mm_cvtepi32_ps(right)};
    }
}

template <int In> inline Quad loadFrames(const float* p) {
    if constexpr (In == 1) {
        const __m128 a = _mm_loadu_ps(p);
        return {a, a};
    } else {
        const __m128 lo = _mm_loadu_ps(p), hi = _mm_loadu_ps(p + 4);
        return {_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)),
                _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))};
    }
}

/// Eight samples from p as they lie, 16-bit ones at 65536 times their value.
inline void loadSamples(const int16_t* p, __m128& a, __m128& b) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    a = _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_setzero_si128(), x));
    b = _mm_cvtepi32_ps(_mm_unpackhi_epi16(_mm_setzero_si128(), x));
}

inline void loadSamples(const float* p, __m128& a, __m128& b) {
    a = _mm_loadu_ps(p);
    b = _mm_loadu_ps(p + 4);
}

/// Adds (or writes) v into four floats at out.
template <bool Add> inline void put(float* out, __m128 v) {
    if constexpr (Add) {
        v = _mm_add_ps(v, _mm_loadu_ps(out));
    }
    _mm_storeu_ps(out, v);
}

/// The four neighbours of four frames, each p[k] at its first neighbour, as
/// y[neighbour][channel] holding the four frames.
template <int In> inline void loadNeighbours(const int16_t* const p[4], __m128 y[4][In]) {
    const __m128i zero = _mm_setzero_si128();
    if constexpr (In == 1) {
        const auto row = [&](int k) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p[k]));
        };
        const __m128i a = _mm_unpacklo_epi16(row(0), row(1));
        const __m128i b = _mm_unpacklo_epi16(row(2), row(3));
        const __m128i y01 = _mm_unpacklo_epi32(a, b), y23 = _mm_unpackhi_epi32(a, b);
        y[0][0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(zero, y01));
        y[1][0] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(zero, y01));
        y[2][0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(zero, y23));
        y[3][0] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(zero, y23));
    } else {
        const auto row = [&](int k) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[k]));
        };
        const __m128i r0 = row(0), r1 = row(1), r2 = row(2), r3 = row(3);
        const __m128i a = _mm_unpacklo_epi16(r0, r1), b = _mm_unpacklo_epi16(r2, r3);
        const __m128i c = _mm_unpackhi_epi16(r0, r1), d = _mm_unpackhi_epi16(r2, r3);
        const __m128i n[4] = {_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b),
                              _mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d)};
        for (int k = 0; k < 4; ++k) {
            y[k][0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(zero, n[k]));
            y[k][1] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(zero, n[k]));
        }
    }
}

template <int In> inline void loadNeighbours(const float* const p[4], __m128 y[4][In]) {
    if constexpr (In == 1) {
        __m128 r0 = _mm_loadu_ps(p[0]), r1 = _mm_loadu_ps(p[1]);
        __m128 r2 = _mm_loadu_ps(p[2]), r3 = _mm_loadu_ps(p[3]);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        y[0][0] = r0, y[1][0] = r1, y[2][0] = r2, y[3][0] = r3;
    } else {
        for (int half = 0; half < 2; ++half) {
            __m128 r0 = _mm_loadu_ps(p[0] + 4 * half), r1 = _mm_loadu_ps(p[1] + 4 * half);
            __m128 r2 = _mm_loadu_ps(p[2] + 4 * half), r3 = _mm_loadu_ps(p[3] + 4 * half);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            y[2 * half][0] = r0, y[2 * half][1] = r1;
            y[2 * half + 1][0] = r2, y[2 * half + 1][1] = r3;
        }
    }
}

/// Writes or adds four frames: `left` and `right` are the per-channel factors
/// (for mono output, left is half the factor of the sum of both channels).
template <int Out, bool Add>
inline void storeFrames(Quad v, __m128 gains, __m128 left, __m128 right, float* out) {
    if constexpr (Out == 1) {
        put<Add>(out, _mm_mul_ps(_mm_add_ps(v.a, v.b), _mm_mul_ps(gains, left)));
    } else {
        const __m128 l = _mm_mul_ps(v.a, _mm_mul_ps(gains, left));
        const __m128 r = _mm_mul_ps(v.b, _mm_mul_ps(gains, right));
        put<Add>(out, _mm_unpacklo_ps(l, r));
        put<Add>(out + 4, _mm_unpackhi_ps(l, r));
    }
}

/// A ramp's factors for Count vectors of consecutive samples (`channels` a
/// frame, sample k times factors[k % 4]), all moved on by their Count * 4 /
/// channels frames at each step.
template <int Count> struct Lanes {
    __m128 g[Count], ratio, slope;

    Lanes(GainRamp ramp, int channels, __m128 factors) {
        float start[4 * Count];
        double level = ramp.start;
        for (int k = 0; k < 4 * Count; ++k) {
            if (k > 0 && k % channels == 0) {
                level = level * ramp.ratio + ramp.slope;
            }
            start[k] = float(ramp.gain * level);
        }
        double power = 1.0, sum = 0.0; // ratio^frames, 1 + ratio + ... + ratio^(frames - 1)
        for (int f = 0; f < Count * 4 / channels; ++f) {
            sum += power;
            power *= ramp.ratio;
        }
        for (int v = 0; v < Count; ++v) {
            g[v] = _mm_mul_ps(_mm_loadu_ps(start + 4 * v), factors);
        }
        ratio = _mm_set1_ps(float(power));
        slope = _mm_mul_ps(_mm_set1_ps(float(ramp.gain * ramp.slope * sum)), factors);
    }

    /// Vector v's factors, then moves it on (a line in decibels has no slope).
    template <bool Decibels = false> __m128 next(int v = 0) {
        const __m128 now = g[v];
        g[v] = Decibels ? _mm_mul_ps(g[v], ratio) : _mm_add_ps(_mm_mul_ps(g[v], ratio), slope);
        return now;
    }
};

/// Copies into the same layout: the samples as they lie, each times its frame's
/// gain and its channel's factor.
template <class Sample, int Channels, bool Add>
void copies(const Sample* p, int64_t n, GainRamp ramp, float left, float right, float* out) {
    const __m128 factors =
        Channels == 1 ? _mm_set1_ps(left) : _mm_setr_ps(left, right, left, right);
    const int64_t samples = n * Channels;
    if (ramp.constant()) {
        const __m128 g = _mm_mul_ps(_mm_set1_ps(ramp.gain * ramp.start), factors);
        // Unrolled: left to the compiler, this loop's speed varied by half with
        // where it happened to be placed.
#pragma GCC unroll 4
        for (int64_t i = 0; i < samples; i += 4) {
            put<Add>(out + i, _mm_mul_ps(loadFrames<1>(p + i).a, g));
        }
        return;
    }
    // Four vectors a step, each with factors of its own, so that no update
    // waits for another.
    Lanes<4> lanes(ramp, Channels, factors);
    const auto copy = [&](auto decibels) {
        int64_t i = 0;
        for (; i + 16 <= samples; i += 16) {
            for (int v = 0; v < 4; ++v) {
                put<Add>(out + i + 4 * v, _mm_mul_ps(loadFrames<1>(p + i + 4 * v).a,
                                                     lanes.template next<decibels>(v)));
            }
        }
        for (int v = 0; i < samples; i += 4, ++v) {
            put<Add>(out + i, _mm_mul_ps(loadFrames<1>(p + i).a, lanes.next(v)));
        }
    };
    if (ramp.slope == 0.0f) {
        copy(std::true_type{});
    } else {
        copy(std::false_type{});
    }
}

/// The cubic four frames at a time (n a multiple of 4), mono or stereo: put(j,
/// v) takes frames j .. j + 3, one vector per channel (16-bit samples at
/// 65536 times their value). Same arguments as interpolate() otherwise.
template <class Sample, int In, class Put>
[[gnu::always_inline]] inline void cubicQuads(const Sample* data, int64_t shift, uint64_t phase,
                                              uint64_t step, int64_t n, Put&& put) {
    const __m128 half1 = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f), three = _mm_set1_ps(3.0f);
    const __m128 four = _mm_set1_ps(4.0f), five = _mm_set1_ps(5.0f);
    const __m128 toFraction = _mm_set1_ps(1.0f / 16777216.0f);
    __m128i fractions = _mm_set_epi32(int32_t(phase + 3 * step), int32_t(phase + 2 * step),
                                      int32_t(phase + step), int32_t(phase));
    const __m128i fractionStep = _mm_set1_epi32(int32_t(4 * step));
    for (int64_t j = 0; j < n; j += 4) {
        const Sample* p[4];
        for (int k = 0; k < 4; ++k, phase += step) {
            p[k] = data + (shift + whole(phase) - 1) * In;
        }
        const __m128 t = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(fractions, 8)), toFraction);
        fractions = _mm_add_epi32(fractions, fractionStep);
        // cubicWeights(), four frames at once.
        const __m128 ht = _mm_mul_ps(half1, t), h2 = _mm_mul_ps(ht, t), h3 = _mm_mul_ps(h2, t);
        const __m128 t2 = _mm_add_ps(h2, h2), h33 = _mm_mul_ps(three, h3);
        const __m128 w0 = _mm_sub_ps(_mm_sub_ps(t2, ht), h3);
        const __m128 w1 = _mm_add_ps(one, _mm_sub_ps(h33, _mm_mul_ps(five, h2)));
        const __m128 w2 = _mm_add_ps(ht, _mm_sub_ps(_mm_mul_ps(four, h2), h33));
        const __m128 w3 = _mm_sub_ps(h3, h2);
        __m128 y[4][In];
        loadNeighbours<In>(p, y);
        __m128 v[In];
        for (int c = 0; c < In; ++c) {
            v[c] =
                _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(w0, y[0][c]), _mm_mul_ps(w1, y[1][c])),
                                      _mm_mul_ps(w2, y[2][c])),
                           _mm_mul_ps(w3, y[3][c]));
        }
        put(j, Quad{v[0], v[In - 1]});
    }
}

/// Four frames at a time (n a multiple of 4) for copies and the cubic, mono or
/// stereo in and out. `factors` holds the output channels' factors (scale times
/// channel gain). Same arguments as interpolate() otherwise.
template <class Sample, int In, int Out, bool Add, bool Cubic>
void quads(const Sample* data, int64_t shift, uint64_t phase, uint64_t step, int64_t n,
           GainRamp ramp, const float* factors, float* out) {
    // 16-bit samples load at 65536 times their value.
    const float unit = sizeof(Sample) == 2 ? 1.0f / 65536.0f : 1.0f;
    if constexpr (!Cubic && In == Out) {
        copies<Sample, In, Add>(data + (shift + whole(phase)) * In, n, ramp, factors[0] * unit,
                                factors[Out - 1] * unit, out);
        return;
    }
    const float half = Out == 1 ? 0.5f : 1.0f;
    const __m128 left = _mm_set1_ps(factors[0] * unit * half);
    const __m128 right = _mm_set1_ps(factors[Out - 1] * unit * half);
    Lanes<1> gains(ramp, 1, _mm_set1_ps(1.0f));
    if constexpr (!Cubic) {
        const Sample* p = data + (shift + whole(phase)) * In;
        for (int64_t j = 0; j < n; j += 4) {
            storeFrames<Out, Add>(loadFrames<In>(p + j * In), gains.next(), left, right,
                                  out + j * Out);
        }
        return;
    }
    cubicQuads<Sample, In>(
        data, shift, phase, step, n, [&](int64_t j, Quad v) __attribute__((always_inline)) {
            storeFrames<Out, Add>(v, gains.next(), left, right, out + j * Out);
        });
}

template <class Sample>
using QuadsFunction = void (*)(const Sample*, int64_t, uint64_t, uint64_t, int64_t, GainRamp,
                               const float*, float*);

template <class Sample, int In, int Out> QuadsFunction<Sample> quadsFor(bool add, bool cubic) {
    if (add) {
        return cubic ? &quads<Sample, In, Out, true, true> : &quads<Sample, In, Out, true, false>;
    }
    return cubic ? &quads<Sample, In, Out, false, true> : &quads<Sample, In, Out, false, false>;
}

/// The four-frame loop for a layout of mono or stereo in and out.
template <class Sample> QuadsFunction<Sample> quadsFor(int in, int out, bool add, bool cubic) {
    if (in == 1) {
        return out == 1 ? quadsFor<Sample, 1, 1>(add, cubic) : quadsFor<Sample, 1, 2>(add, cubic);
    }
    return out == 1 ? quadsFor<Sample, 2, 1>(add, cubic) : quadsFor<Sample, 2, 2>(add, cubic);
}

#endif

} // namespace ox::audio::kernels
