// The voice model: a player without a voice shape renders as players always
// have, and each part of the shape does what it says, measured on what it renders.

#include "AudioTestUtil.h"

#include <ox/audio/VoiceShape.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>

using namespace oxtest;
using ox::audio::Envelope;
using ox::audio::Interpolation;
using ox::audio::Lfo;
using ox::audio::TQ7SamplePlayer;
using ox::audio::VoiceShape;

namespace {

constexpr int kRate = 44100;

/// A source of samples held in memory: noise and exact tones without a file,
/// as float or (`int16`) as 16-bit samples.
class FloatDecoder : public ox::audio::IDecoder {
public:
    FloatDecoder(std::vector<float> samples, int channels, bool int16 = false)
        : m_samples(std::move(samples)), m_channels(channels), m_int16(int16) {}
    int channels() const override { return m_channels; }
    int sampleRate() const override { return kRate; }
    int64_t frameCount() const override { return int64_t(m_samples.size()) / m_channels; }
    float gain() const override { return 1.0f; }
    int bitsPerSample() const override { return m_int16 ? 16 : 0; }
    bool loop(Loop&) const override { return false; }
    int64_t readFrames(float* out, int64_t frames) override {
        const int64_t n = std::min(frames, frameCount() - m_at);
        std::copy_n(m_samples.data() + m_at * m_channels, n * m_channels, out);
        m_at += n;
        return n;
    }
    int64_t readFrames16(int16_t* out, int64_t frames) override {
        const int64_t n = std::min(frames, frameCount() - m_at);
        for (int64_t i = 0; i < n * m_channels; ++i) {
            const float v = std::clamp(m_samples[size_t(m_at * m_channels + i)], -1.0f, 1.0f);
            out[i] = int16_t(std::lround(v * 32767.0f));
        }
        m_at += n;
        return n;
    }
    bool seekFrame(int64_t frame) override {
        if (frame < 0 || frame > frameCount()) {
            return false;
        }
        m_at = frame;
        return true;
    }

private:
    std::vector<float> m_samples;
    int m_channels;
    bool m_int16;
    int64_t m_at = 0;
};

std::shared_ptr<ox::audio::AudioStream> streamOf(std::vector<float> samples, int channels = 1,
                                                 bool int16 = false) {
    return std::make_shared<ox::audio::AudioStream>(
        std::make_shared<FloatDecoder>(std::move(samples), channels, int16), 0);
}

/// The frequency of a sine in `x[from, from + n)`: whole cycles between its
/// first and last rising zero crossings, each placed between two samples.
double frequencyIn(const std::vector<float>& x, int64_t from, int64_t n) {
    double first = -1.0;
    double last = -1.0;
    int cycles = -1;
    for (int64_t i = from + 1; i < from + n; ++i) {
        const float a = x[size_t(i - 1)];
        const float b = x[size_t(i)];
        if (a < 0.0f && b >= 0.0f) {
            last = double(i - 1) + double(a / (a - b));
            first = first < 0.0 ? last : first;
            ++cycles;
        }
    }
    return cycles > 0 ? cycles * double(kRate) / (last - first) : 0.0;
}

std::vector<float> noise(int64_t frames) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    std::vector<float> samples(static_cast<size_t>(frames));
    for (float& s : samples) {
        s = uniform(random);
    }
    return samples;
}

std::vector<float> sine(int64_t frames, double hz, int channels = 1) {
    std::vector<float> samples(size_t(frames * channels));
    for (int64_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            samples[size_t(f * channels + c)] =
                float(0.5 * std::sin(2.0 * std::numbers::pi * hz * double(f) / kRate));
        }
    }
    return samples;
}

/// Renders `frames` mono frames of `stream` with `shape` (none: unshaped), in blocks of 256.
std::vector<float> rendered(const std::shared_ptr<ox::audio::AudioStream>& stream,
                            const VoiceShape* shape, int64_t frames, int velocity = 127) {
    TQ7SamplePlayer player(stream);
    if (shape) {
        player.setShape(*shape);
    }
    player.setVelocity(velocity);
    std::vector<float> out(static_cast<size_t>(frames));
    for (int64_t at = 0; at < frames; at += 256) {
        player.render(out.data() + at, std::min<int64_t>(256, frames - at), 1);
    }
    return out;
}

/// The power of `x[from, from + n)` at `hz`, summed over nine neighbouring DFT bins.
double bandPower(const std::vector<float>& x, int64_t from, int64_t n, double hz) {
    const double binHz = double(kRate) / double(n);
    const double centre = std::round(hz / binHz);
    double power = 0.0;
    for (int b = -4; b <= 4; ++b) {
        const double w = 2.0 * std::numbers::pi * (centre + b) / double(n);
        std::complex<double> sum;
        for (int64_t i = 0; i < n; ++i) {
            sum += double(x[size_t(from + i)]) * std::polar(1.0, -w * double(i));
        }
        power += std::norm(sum);
    }
    return power;
}

/// The filter's response at `hz`, in dB, from noise through `shape` beside the same noise unshaped.
double responseDb(const VoiceShape& shape, double hz, int velocity = 127) {
    const auto stream = streamOf(noise(24576));
    const std::vector<float> dry = rendered(stream, nullptr, 24576);
    const std::vector<float> wet = rendered(stream, &shape, 24576, velocity);
    return 10.0 * std::log10(bandPower(wet, 4096, 16384, hz) / bandPower(dry, 4096, 16384, hz));
}

struct Unshaped {
    const char* name;
    int channels;
    double transposition;
    Interpolation interpolation;
    bool mix;
};

constexpr Unshaped kUnshaped[] = {
    {"mono untransposed", 1, 0.0, Interpolation::Cubic, false},
    {"mono up cubic", 1, 2.3, Interpolation::Cubic, false},
    {"mono down sinc", 1, -5.0, Interpolation::Sinc, true},
    {"stereo untransposed", 2, 0.0, Interpolation::Cubic, true},
    {"stereo up sinc", 2, 3.7, Interpolation::Sinc, false},
    {"stereo down cubic", 2, -1.2, Interpolation::Cubic, true},
};

// What these players rendered before the voice model existed: 16 samples spread
// over the sounding part of each output, then its sum of squares.
constexpr double kUnshapedReference[6][17] = {
    {0.000191824773, -0.227390319, 0.306801587, -0.317205757, 0.26238513, -0.160836086,
     0.0535330251, 0.0536641255, -0.12783204, 0.184814453, -0.19978027, 0.172424316, -0.163549811,
     0.0555683188, -0.000182843069, -0.000101882782, 1085.64534},
    {0.000218855974, -0.0876425579, -0.218230769, -0.276953489, -0.286402822, -0.246173158,
     -0.169127688, -0.0855183154, 0.00584818237, 0.0813495889, 0.151868045, 0.199859917,
     0.177316338, 0.0787114576, 0.00135874469, -3.09421484e-05, 1085.66081},
    {0.250085562, 0.467179894, 0.411403954, 0.207652152, 0.0846532583, 0.143159717, 0.292635471,
     0.375750661, 0.324776649, 0.200450107, 0.130405664, 0.186822906, 0.308436871, 0.323233068,
     0.251457751, 0.249917731, 4731.32883},
    {0.250227898, 0.471014917, 0.428415865, 0.257866234, 0.122348383, 0.0984918624, 0.187446505,
     0.312303752, 0.367971182, 0.334748536, 0.238969728, 0.145168453, 0.13704589, 0.190622181,
     0.24978058, 0.25011003, 4731.0734},
    {0.000466765778, -0.383190334, 0.0565436371, 0.296961844, -0.179200411, -0.167013198,
     0.217758462, 0.0393744707, -0.198350474, 0.0640369505, 0.0432392061, -0.199953273,
     0.0580334328, 0.107641317, -0.0038625095, -0.000125386432, 1085.78729},
    {0.250213027, 0.130041286, 0.0414737612, 0.100867659, 0.248917192, 0.361694574, 0.389870524,
     0.326382697, 0.220151499, 0.14548713, 0.138572544, 0.204965606, 0.308478355, 0.315778524,
     0.250702053, 0.249922529, 4731.24006},
};

/// A looping tone with an envelope, released half way, rendered in blocks of 512
/// stereo frames; 16 samples of it and its energy. With `shape`, through it.
std::vector<float> unshapedOutput(const Unshaped& c, const VoiceShape* shape) {
    const Tone tone{.channels = c.channels,
                    .frames = 20000,
                    .frequency = 331.0,
                    .loopStart = 5000,
                    .loopEnd = 15000};
    TQ7SamplePlayer player(audioStreamOf(AudioFormat::Wav16, tone));
    player.setTransposition(c.transposition);
    player.setInterpolation(c.interpolation);
    player.setGain(0.8f);
    player.setEnvelope({.attack = 0.02f, .decay = 0.2f, .sustain = 0.5f, .release = 0.1f});
    if (shape) {
        player.setShape(*shape);
    }
    std::vector<float> out(2 * 32768, 0.25f);
    const float gains[2] = {0.9f, 0.6f};
    for (int64_t at = 0; at < 32768; at += 512) {
        if (at == 16384) {
            player.release();
        }
        if (c.mix) {
            player.mix(out.data() + 2 * at, 512, 2, gains);
        } else {
            player.render(out.data() + 2 * at, 512, 2);
        }
    }
    return out;
}

std::vector<double> summaryOf(const std::vector<float>& out) {
    std::vector<double> summary;
    // The release ends near frame 20800: every sample taken sounds.
    for (size_t k = 0; k < 16; ++k) {
        summary.push_back(out[k * 2551 + 7 + k % 2]);
    }
    double energy = 0.0;
    for (float v : out) {
        energy += double(v) * v;
    }
    summary.push_back(energy);
    return summary;
}

} // namespace

TEST(Voice, PlayersWithoutAShapeRenderAsBefore) {
    std::string found;
    for (size_t i = 0; i < std::size(kUnshaped); ++i) {
        const std::vector<double> summary = summaryOf(unshapedOutput(kUnshaped[i], nullptr));
        found += "    {";
        for (double v : summary) {
            char number[32];
            std::snprintf(number, sizeof number, "%.9g, ", v);
            found += number;
        }
        found += "},\n";
        for (size_t k = 0; k < summary.size(); ++k) {
            // The energy sums 65536 squares: the same tolerance relative to it.
            const double tolerance = k < 16 ? 1e-4 : 1e-4 * std::abs(kUnshapedReference[i][k]);
            EXPECT_NEAR(summary[k], kUnshapedReference[i][k], tolerance)
                << kUnshaped[i].name << ", value " << k;
        }
    }
    if (::testing::Test::HasFailure()) {
        std::printf("rendered now:\n%s", found.c_str());
    }
}

TEST(Voice, ADefaultShapeOrAnOpenStillFilterChangesNothing) {
    VoiceShape open;
    open.cutoff = 21000.0f;
    for (const VoiceShape& shape : {VoiceShape{}, open}) {
        for (const Unshaped& c : kUnshaped) {
            EXPECT_EQ(unshapedOutput(c, &shape), unshapedOutput(c, nullptr)) << c.name;
        }
    }
}

TEST(Voice, LowPassResponseOnNoise) {
    VoiceShape shape;
    shape.cutoff = 2000.0f;
    // Two poles: -3 dB at the cutoff, flat below, 12 dB per octave above.
    EXPECT_NEAR(responseDb(shape, 2000.0), -3.0, 0.6);
    EXPECT_NEAR(responseDb(shape, 200.0), 0.0, 0.3);
    EXPECT_LT(responseDb(shape, 8000.0), -22.0);

    // The peak stands the resonance above DC, at the cutoff.
    shape.resonance = 12.0f;
    double peak = -100.0;
    double peakHz = 0.0;
    for (double hz = 1200.0; hz <= 2600.0; hz += 50.0) {
        const double db = responseDb(shape, hz);
        if (db > peak) {
            peak = db;
            peakHz = hz;
        }
    }
    EXPECT_NEAR(peak, 12.0, 1.0);
    EXPECT_NEAR(peakHz, 2000.0, 150.0);

    // Velocity darkens: 2400 cents down at velocity 0, none at 127.
    VoiceShape soft;
    soft.cutoff = 8000.0f;
    soft.velocityToCutoff = -2400.0f;
    EXPECT_NEAR(responseDb(soft, 8000.0, 127), -3.0, 0.6);
    EXPECT_NEAR(responseDb(soft, 8000.0 * std::exp2(-2.0 * 126.0 / 127.0), 1), -3.0, 0.6);
}

TEST(Voice, FilterStaysStableAtNyquistAndFullResonanceWhileMoving) {
    VoiceShape shape;
    shape.cutoff = 30000.0f; // past Nyquist: held just below it
    shape.resonance = VoiceShape::kMaxResonance;
    shape.modLfo = Lfo{.delay = 0.0f, .frequency = 40.0f};
    shape.modLfoToCutoff = 9600.0f; // sweeps all the way down and back
    shape.modEnvelope = Envelope{.decay = 0.05f, .sustain = 0.0f};
    shape.modEnvelopeToCutoff = -4800.0f;
    const std::vector<float> out = rendered(streamOf(noise(44100)), &shape, 44100);
    float highest = 0.0f;
    for (float v : out) {
        ASSERT_TRUE(std::isfinite(v));
        highest = std::max(highest, std::abs(v));
    }
    // Ringing at 96 dB of resonance is loud; growing without bound would be far louder.
    EXPECT_LT(highest, 1e5f);
}

TEST(Voice, VibratoAndModulationEnvelopeMoveThePitchByTheirDepth) {
    const auto stream = streamOf(sine(88200, 1000.0));
    VoiceShape vibrato;
    vibrato.vibratoLfo = Lfo{.delay = 0.25f, .frequency = 4.0f};
    vibrato.vibratoToPitch = 100.0f;
    const std::vector<float> out = rendered(stream, &vibrato, 88200);
    // Frequency over 5 ms windows.
    const auto frequencyAt = [&](double seconds) {
        return frequencyIn(out, int64_t(seconds * kRate), 220);
    };
    EXPECT_NEAR(frequencyAt(0.1), 1000.0, 1.0); // still delayed
    // Peaks a quarter cycle after the delay, troughs three quarters.
    double high = 0.0;
    double low = 1e9;
    for (double t = 0.30; t < 0.55; t += 0.005) {
        high = std::max(high, frequencyAt(t));
        low = std::min(low, frequencyAt(t));
    }
    EXPECT_NEAR(1200.0 * std::log2(high / 1000.0), 100.0, 5.0);
    EXPECT_NEAR(1200.0 * std::log2(low / 1000.0), -100.0, 5.0);

    VoiceShape sweep;
    sweep.modEnvelope = Envelope{.hold = 0.2f, .decay = 0.2f, .sustain = 0.0f};
    sweep.modEnvelopeToPitch = 1200.0f;
    const std::vector<float> swept = rendered(stream, &sweep, 44100);
    EXPECT_NEAR(frequencyIn(swept, 2205, 2205), 2000.0, 2.0);  // an octave up while held
    EXPECT_NEAR(frequencyIn(swept, 35280, 2205), 1000.0, 1.0); // back after the decay

    // A convex attack is most of the way up early: 0.58 of it at a tenth of
    // the attack, 0.87 at half, where a straight one is at 0.1 and 0.5.
    VoiceShape convex;
    convex.modEnvelope = Envelope{.attack = 1.0f};
    convex.modEnvelopeToPitch = 1200.0f;
    convex.modAttackConvex = true;
    const std::vector<float> rising = rendered(stream, &convex, 44100);
    for (const auto& [seconds, level] : {std::pair{0.1, 0.5833}, {0.5, 0.8746}}) {
        const double cents =
            1200.0 * std::log2(frequencyIn(rising, int64_t(seconds * kRate), 220) / 1000.0);
        EXPECT_NEAR(cents, 1200.0 * level, 15.0) << seconds;
    }
}

TEST(Voice, PanLawAtTheExtremesAndTheCentre) {
    const auto stream = streamOf(std::vector<float>(4096, 0.5f));
    const auto levels = [&](float pan, bool mix) {
        TQ7SamplePlayer player(stream);
        player.setPan(pan);
        std::vector<float> out(2 * 256, 0.0f);
        const float gains[2] = {0.5f, 0.25f};
        if (mix) {
            player.mix(out.data(), 256, 2, gains);
        } else {
            player.render(out.data(), 256, 2);
        }
        return std::pair{out[100], out[101]};
    };
    const float half = 0.5f * float(std::sqrt(0.5));
    EXPECT_EQ(levels(-1.0f, false), std::pair(0.5f, 0.0f));
    EXPECT_NEAR(levels(1.0f, false).first, 0.0f, 1e-7f);
    EXPECT_EQ(levels(1.0f, false).second, 0.5f);
    EXPECT_NEAR(levels(0.0f, false).first, half, 1e-6f);
    EXPECT_NEAR(levels(0.0f, false).second, half, 1e-6f);
    EXPECT_EQ(levels(-7.0f, false), levels(-1.0f, false)); // clamped
    // A shape given out of range (as a description may) plays clamped too, never inverted.
    VoiceShape wide;
    wide.pan = 3.0f;
    TQ7SamplePlayer player(stream);
    player.setShape(wide);
    std::vector<float> out(2 * 16);
    player.render(out.data(), 16, 2);
    EXPECT_NEAR(out[4], 0.0f, 1e-7f);
    EXPECT_EQ(out[5], 0.5f);
    // Mixing scales the panned sides by the channel gains.
    EXPECT_NEAR(levels(0.0f, true).first, half * 0.5f, 1e-6f);
    EXPECT_NEAR(levels(0.0f, true).second, half * 0.25f, 1e-6f);
}

TEST(Voice, ModulationLfoMovesTheVolumeAfterItsDelay) {
    VoiceShape shape;
    shape.modLfo = Lfo{.delay = 0.1f, .frequency = 5.0f};
    shape.modLfoToVolume = 6.0f;
    const std::vector<float> out =
        rendered(streamOf(std::vector<float>(44100, 0.5f)), &shape, 44100);
    EXPECT_FLOAT_EQ(out[2000], 0.5f);
    // At the oscillator's peak (a quarter cycle on) +6 dB, at its trough -6 dB.
    // The gain glides linearly across each control block: within 0.15 dB at the peak.
    EXPECT_NEAR(out[size_t(0.15 * kRate)] / 0.5, std::pow(10.0, 6.0 / 20.0), 0.035);
    EXPECT_NEAR(out[size_t(0.25 * kRate)] / 0.5, std::pow(10.0, -6.0 / 20.0), 0.01);
}

TEST(Voice, StereoShapedVoicesFilterEachSideAsAMonoVoiceWould) {
    // The stereo output path interpolates and filters in one pass (for 16-bit
    // stereo eight frames at a time); the general path filters in place then
    // maps. Both must agree, side by side, for float and 16-bit sources,
    // mixed and rendered, across runs and control blocks, the cutoff moving.
    const std::vector<float> left = noise(8192);
    std::vector<float> right = sine(8192, 3000.0);
    for (float& v : right) {
        v *= 0.5f;
    }
    std::vector<float> both(2 * 8192);
    for (size_t f = 0; f < 8192; ++f) {
        both[2 * f] = left[f];
        both[2 * f + 1] = right[f];
    }
    VoiceShape shape;
    shape.cutoff = 1500.0f;
    shape.resonance = 4.0f;
    shape.modLfo = Lfo{.delay = 0.0f, .frequency = 7.0f};
    shape.modLfoToCutoff = 1200.0f;
    shape.modLfoToVolume = 3.0f;
    const auto played = [&](const std::vector<float>& samples, int channels, bool int16,
                            int outChannels, const float* gains) {
        TQ7SamplePlayer player(streamOf(samples, channels, int16));
        player.setShape(shape);
        player.setTransposition(0.5);
        std::vector<float> out(size_t(outChannels) * 8192, gains ? 0.125f : 0.0f);
        for (int64_t at = 0; at < 8192; at += 300) {
            const int64_t n = std::min<int64_t>(300, 8192 - at);
            float* to = out.data() + outChannels * at;
            gains ? player.mix(to, n, outChannels, gains) : player.render(to, n, outChannels);
        }
        return out;
    };
    const float gains[2] = {0.5f, 2.0f};
    for (const bool int16 : {false, true}) {
        for (const float* g :
             {static_cast<const float*>(gains), static_cast<const float*>(nullptr)}) {
            const std::vector<float> stereo = played(both, 2, int16, 2, g);
            for (int side = 0; side < 2; ++side) {
                const std::vector<float>& source = side == 0 ? left : right;
                const std::vector<float> alone = played(source, 1, int16, 1, nullptr);
                // A mono source into stereo output takes the one-pass path too.
                const std::vector<float> spread = played(source, 1, int16, 2, g);
                const float base = g ? 0.125f : 0.0f;
                const float gain = g ? g[side] : 1.0f;
                for (size_t f = 0; f < 8192; f += 3) {
                    const float want = base + gain * alone[f];
                    ASSERT_NEAR(stereo[2 * f + size_t(side)], want, 1e-5f)
                        << "16-bit " << int16 << ", mixed " << bool(g) << ", side " << side
                        << ", frame " << f;
                    ASSERT_NEAR(spread[2 * f + size_t(side)], want, 1e-5f)
                        << "mono source, 16-bit " << int16 << ", mixed " << bool(g) << ", side "
                        << side << ", frame " << f;
                }
            }
        }
    }
}

TEST(Voice, AMovingCutoffGlidesWithoutZipperNoise) {
    // A tone under a cutoff swept across it: the tone's level and phase move
    // with the sweep. Coefficients that step too far apart move them in
    // stairs, heard as a buzz at the stepping rate: sidebands at the tone plus
    // and minus that rate, which a smooth sweep does not make.
    VoiceShape shape;
    shape.cutoff = 1000.0f;
    shape.resonance = 6.0f;
    shape.modLfo = Lfo{.delay = 0.0f, .frequency = 3.0f};
    shape.modLfoToCutoff = 1200.0f;
    const std::vector<float> out = rendered(streamOf(sine(60000, 1000.0)), &shape, 60000);
    // Hann-windowed, so that the tone's own leakage stays far below what is measured.
    const auto power = [&](double hz) {
        constexpr int64_t from = 8192, n = 32768;
        std::complex<double> sum;
        for (int64_t i = 0; i < n; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(n));
            sum += w * double(out[size_t(from + i)]) *
                   std::polar(1.0, -2.0 * std::numbers::pi * hz * double(i) / kRate);
        }
        return std::norm(sum);
    };
    // Stepping every 64 frames leaves its line near -89 dB, every 128 near
    // -76; the sweep's own spectrum is below -90 dB this far from the tone.
    const double tone = power(1000.0);
    for (const int period : {64, 128, 256}) {
        for (const int side : {-1, 1}) {
            const double hz = 1000.0 + side * double(kRate) / period;
            EXPECT_LT(10.0 * std::log10(power(hz) / tone), -85.0) << hz << " Hz";
        }
    }
}

TEST(Voice, ACutoffThatComesToRestFiltersAsOneThatNeverMoved) {
    // The modulation envelope sweeps the cutoff, then holds it at its sustain:
    // from there on the voice filters exactly as one whose cutoff stood there
    // all along. Coefficients kept from the wrong step, or not worked out
    // again when the cutoff stops, would leave it at another cutoff for good.
    const auto stream = streamOf(noise(30000));
    VoiceShape moving;
    moving.cutoff = 1000.0f;
    moving.resonance = 6.0f;
    moving.modEnvelope = Envelope{.attack = 0.05f, .decay = 0.1f, .sustain = 0.5f};
    moving.modEnvelopeToCutoff = 2400.0f;
    VoiceShape still = moving;
    still.modEnvelopeToCutoff = 0.0f;
    still.cutoff = 2000.0f; // half the depth up: 1200 cents
    // Mono output filters each step on its own; stereo renders a block's steps in one call.
    for (const int channels : {1, 2}) {
        const auto played = [&](const VoiceShape& shape) {
            TQ7SamplePlayer player(stream);
            player.setShape(shape);
            std::vector<float> out(size_t(channels) * 30000);
            for (int64_t at = 0; at < 30000; at += 700) {
                player.render(out.data() + channels * at, std::min<int64_t>(700, 30000 - at),
                              channels);
            }
            return out;
        };
        const std::vector<float> swept = played(moving);
        const std::vector<float> held = played(still);
        double apart = 0.0;
        for (size_t f = size_t(channels) * 12000; f < swept.size(); ++f) {
            apart = std::max(apart, double(std::abs(swept[f] - held[f])));
        }
        EXPECT_LT(apart, 1e-4) << channels << " channels";
        // And while it moved, it was elsewhere.
        double early = 0.0;
        for (size_t f = size_t(channels) * 1000; f < size_t(channels) * 4000; ++f) {
            early = std::max(early, double(std::abs(swept[f] - held[f])));
        }
        EXPECT_GT(early, 0.01) << channels << " channels";
    }
}
