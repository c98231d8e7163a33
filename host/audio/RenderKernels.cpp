#include "RenderKernels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ox::audio::kernels {

namespace {

// The Kaiser window's shape: sidelobes near -100 dB, so that images and aliases
// stay below what 16-bit sources hold.
constexpr double kKaiserBeta = 10.0;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

/// The kernel at distance x (|x| <= kSincHalf): sinc windowed by Kaiser.
double windowedSinc(double x) {
    const double r = x / kSincHalf;
    const double window =
        besselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(kKaiserBeta);
    const double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
    return sinc * window;
}

template <class Sample>
void dotOf(const Sample* y, int channels, const float* w, int taps, float* out) {
    int k = 0;
    for (int c = 0; c < channels; ++c) {
        out[c] = 0.0f;
    }
#ifdef OX_AUDIO_SSE2
    // 16-bit samples load at 65536 times their value.
    const float unit = sizeof(Sample) == 2 ? 1.0f / 65536.0f : 1.0f;
    if (channels == 2) {
        __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
        for (; k + 4 <= taps; k += 4) {
            __m128 a, b; // frames k, k + 1 and k + 2, k + 3, interleaved
            loadSamples(y + 2 * k, a, b);
            const __m128 w4 = _mm_loadu_ps(w + k);
            lo = _mm_add_ps(lo, _mm_mul_ps(a, _mm_unpacklo_ps(w4, w4)));
            hi = _mm_add_ps(hi, _mm_mul_ps(b, _mm_unpackhi_ps(w4, w4)));
        }
        float sums[4];
        _mm_storeu_ps(sums, _mm_add_ps(lo, hi));
        out[0] = (sums[0] + sums[2]) * unit;
        out[1] = (sums[1] + sums[3]) * unit;
    } else if (channels == 1) {
        __m128 sum = _mm_setzero_ps();
        for (; k + 4 <= taps; k += 4) {
            sum = _mm_add_ps(sum, _mm_mul_ps(loadFrames<1>(y + k).a, _mm_loadu_ps(w + k)));
        }
        float sums[4];
        _mm_storeu_ps(sums, sum);
        out[0] = ((sums[0] + sums[1]) + (sums[2] + sums[3])) * unit;
    }
#endif
    for (; k < taps; ++k) {
        for (int c = 0; c < channels; ++c) {
            out[c] += w[k] * float(y[k * channels + c]);
        }
    }
}

} // namespace

const SincTable& sincTable() {
    static const SincTable table = [] {
        SincTable t;
        // Rows 0..kSincPhases, each scaled to a sum of 1 so that a constant
        // passes unchanged at every fraction; row kSincPhases is row 0 moved on by one.
        std::vector<double> rows((kSincPhases + 1) * kSincTaps);
        for (int p = 0; p <= kSincPhases; ++p) {
            double* row = &rows[size_t(p * kSincTaps)];
            double sum = 0.0;
            for (int k = 0; k < kSincTaps; ++k) {
                row[k] = windowedSinc(double(p) / kSincPhases + (kSincHalf - 1 - k));
                sum += row[k];
            }
            for (int k = 0; k < kSincTaps; ++k) {
                row[k] /= sum;
            }
        }
        t.rows.resize(size_t(kSincPhases * 2 * kSincTaps));
        for (int p = 0; p < kSincPhases; ++p) {
            for (int k = 0; k < kSincTaps; ++k) {
                const double here = rows[size_t(p * kSincTaps + k)];
                t.rows[size_t(p * 2 * kSincTaps + k)] = float(here);
                t.rows[size_t(p * 2 * kSincTaps + kSincTaps + k)] =
                    float(rows[size_t((p + 1) * kSincTaps + k)] - here);
            }
        }
        constexpr int points = kSincTaps * kSincPhases;
        t.points.resize(size_t(2 * points));
        for (int r = 0; r < points; ++r) {
            const double here = windowedSinc(double(r) / kSincPhases - kSincHalf);
            t.points[size_t(2 * r)] = float(here);
            t.points[size_t(2 * r + 1)] =
                float(windowedSinc(double(r + 1) / kSincPhases - kSincHalf) - here);
        }
        return t;
    }();
    return table;
}

int sincWeights(const Setup& setup, float t, float* w) {
    if (setup.scale <= 1.0f) {
        const float r = t * float(kSincPhases);
        const int p = std::min(int(r), kSincPhases - 1);
        const float f = r - float(p);
        const float* row = setup.sinc->rows.data() + p * 2 * kSincTaps;
        for (int k = 0; k < kSincTaps; ++k) {
            w[k] = row[k] + f * row[kSincTaps + k];
        }
        return kSincTaps;
    }
    // Transposing up: the kernel stretched by the step, so that it cuts at the
    // output's Nyquist frequency. Neighbour k lies t + before - k frames away,
    // at (t + before - k) / scale + kSincHalf kernel units from the kernel's
    // start: in the table's points (32.32), a position that moves down by
    // kSincPhases / scale from one neighbour to the next.
    const int taps = setup.reach.before + setup.reach.after + 1;
    constexpr int64_t kPoints = int64_t(kSincTaps) * kSincPhases;
    const double pointsPerFrame = kSincPhases / double(setup.scale);
    int64_t at = int64_t(
        ((double(t) + setup.reach.before) * pointsPerFrame + kSincHalf * kSincPhases) * kUnit +
        0.5);
    const int64_t down = int64_t(pointsPerFrame * kUnit + 0.5);
    // Only the neighbours inside the kernel's span look it up.
    int k = 0;
    for (; k < taps && (at >> 32) >= kPoints; ++k, at -= down) {
        w[k] = 0.0f;
    }
    const float* points = setup.sinc->points.data();
    const int inside = std::min<int64_t>(taps, k + at / down + 1);
#pragma GCC unroll 4
    for (; k < inside; ++k, at -= down) {
        const float* point = points + 2 * (at >> 32);
        w[k] = point[0] + fraction(uint64_t(at)) * point[1];
    }
    for (; k < taps; ++k) {
        w[k] = 0.0f;
    }
    // Scaled to a sum of 1, in four sums that do not wait for each other.
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
    for (k = 0; k + 4 <= taps; k += 4) {
        s0 += w[k];
        s1 += w[k + 1];
        s2 += w[k + 2];
        s3 += w[k + 3];
    }
    for (; k < taps; ++k) {
        s0 += w[k];
    }
    const float sum = (s0 + s1) + (s2 + s3);
    const float norm = sum != 0.0f ? 1.0f / sum : 0.0f;
    for (int k = 0; k < taps; ++k) {
        w[k] *= norm;
    }
    return taps;
}

void dot(const int16_t* y, int channels, const float* w, int taps, float* out) {
    dotOf(y, channels, w, taps, out);
}

void dot(const float* y, int channels, const float* w, int taps, float* out) {
    dotOf(y, channels, w, taps, out);
}

void mapFrames(const float* frames, int inChannels, int64_t n, GainRamp& ramp, float* out,
               int outChannels, const float* channelGains, bool add) {
    const auto put = [add](float& to, float value) { to = add ? to + value : value; };
    const auto gainOf = [channelGains](int c) { return channelGains ? channelGains[c] : 1.0f; };
    float& level = ramp.start;
    for (int64_t j = 0; j < n; ++j, frames += inChannels, out += outChannels) {
        const float g = ramp.gain * level;
        level = level * ramp.ratio + ramp.slope;
        if (inChannels == outChannels) {
            for (int c = 0; c < outChannels; ++c) {
                put(out[c], frames[c] * (g * gainOf(c)));
            }
        } else if (inChannels == 1) {
            for (int c = 0; c < outChannels; ++c) {
                put(out[c], frames[0] * (g * gainOf(c)));
            }
        } else if (outChannels == 1) {
            float sum = 0.0f;
            for (int c = 0; c < inChannels; ++c) {
                sum += frames[c];
            }
            put(out[0], sum * (g * gainOf(0)) / float(inChannels));
        } else {
            for (int c = 0; c < outChannels; ++c) {
                put(out[c], frames[c % inChannels] * (g * gainOf(c)));
            }
        }
    }
}

} // namespace ox::audio::kernels
