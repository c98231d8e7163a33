// The render loops against a plain reference of what a player computes, and
// the interpolators' quality on a sine.

#include "AudioTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace oxtest;
using ox::audio::Envelope;
using ox::audio::EnvelopeState;
using ox::audio::Interpolation;
using ox::audio::TQ7SamplePlayer;

namespace {

/// A player written plainly, one frame at a time: a double position through
/// the played sequence (the loop repeats until release), Catmull-Rom through
/// four neighbours, the envelope's recurrence frame by frame.
struct ReferencePlayer {
    std::vector<float> sound; ///< every frame, with the stream's gain
    int channels = 1;
    int64_t frames = 0;
    bool looping = false;
    int64_t loopStart = 0, loopEnd = 0;
    double step = 1.0;
    double position = 0.0;
    float gain = 1.0f;
    int rate = 44100;
    const Envelope* envelope = nullptr;
    EnvelopeState level;
    bool started = false;

    float at(int64_t i, int c) const {
        if (looping && i >= loopEnd) {
            i = loopStart + (i - loopStart) % (loopEnd - loopStart);
        }
        return i < 0 || i >= frames ? 0.0f : sound[size_t(i * channels + c)];
    }

    void start() {
        if (envelope && !started) {
            level.start(*envelope, rate);
        }
        started = true;
    }

    void release(double seconds) {
        start();
        if (looping && position >= double(loopEnd)) {
            position = loopStart + std::fmod(position - loopStart, double(loopEnd - loopStart));
        }
        looping = false;
        level.release(seconds, rate);
    }

    int64_t render(float* out, int64_t n, int outChannels) {
        start();
        int64_t j = 0;
        while (j < n && !level.silent() && (looping || position < double(frames))) {
            const int64_t run = std::min(n - j, level.left());
            float g = level.level();
            int64_t k = 0;
            for (; k < run && (looping || position < double(frames)); ++k, position += step) {
                const double whole = std::floor(position);
                const float t = float(position - whole);
                const int64_t i = int64_t(whole);
                float frame[8];
                for (int c = 0; c < channels; ++c) {
                    const float y0 = at(i - 1, c), y1 = at(i, c), y2 = at(i + 1, c),
                                y3 = at(i + 2, c);
                    frame[c] = y1 + 0.5f * t *
                                        (y2 - y0 +
                                         t * (2.0f * y0 - 5.0f * y1 + 4.0f * y2 - y3 +
                                              t * (3.0f * (y1 - y2) + y3 - y0)));
                }
                float* o = out + (j + k) * outChannels;
                const float scale = gain * g;
                for (int c = 0; c < outChannels; ++c) {
                    if (channels == outChannels || channels == 1) {
                        o[c] = frame[channels == 1 ? 0 : c] * scale;
                    } else if (outChannels == 1) {
                        o[c] = (frame[0] + frame[1]) * scale / 2.0f;
                    } else {
                        o[c] = frame[c % channels] * scale;
                    }
                }
                g = g * level.ratio() + level.slope();
            }
            if (k > 0) {
                level.advance(k);
            }
            j += k;
        }
        std::fill(out + j * outChannels, out + n * outChannels, 0.0f);
        return j;
    }
};

struct Case {
    AudioFormat format;
    int channels;
    int64_t loopStart, loopEnd; ///< -1: no loop
    double transposition;
    int outputRate;
};

/// Signal to noise and distortion of `out` against sin(2 pi cycles j), over
/// frames [from, out.size()), in dB.
double sinad(const std::vector<float>& out, double cycles, size_t from) {
    double signal = 0.0, noise = 0.0;
    for (size_t j = from; j < out.size(); ++j) {
        const double ideal = std::sin(2.0 * M_PI * cycles * double(j));
        signal += ideal * ideal;
        noise += (out[j] - ideal) * (out[j] - ideal);
    }
    return 10.0 * std::log10(signal / noise);
}

} // namespace

TEST(Render, MatchesTheReferenceInEveryLayoutLoopAndTransposition) {
    // 40000 frames span three storage blocks; one loop crosses a block's end,
    // the other is shorter than the cubic's four neighbours.
    const Envelope envelope{.attack = 0.01f, .decay = 0.2f, .sustain = 0.5f, .release = 0.3f};
    std::vector<Case> cases;
    for (auto [format, channels] :
         {std::pair{AudioFormat::Wav16, 1}, {AudioFormat::Wav16, 2}, {AudioFormat::Wav24, 2}}) {
        for (auto [loopStart, loopEnd] :
             {std::pair<int64_t, int64_t>{-1, -1}, {1000, 30000}, {20000, 20003}}) {
            for (auto [transposition, rate] : {std::pair{0.0, 44100},
                                               {0.37, 44100},
                                               {-12.0, 44100},
                                               {7.0, 44100},
                                               {19.5, 44100},
                                               {60.0, 44100},
                                               {-40.0, 44100},
                                               {0.0, 48000}}) {
                cases.push_back({format, channels, loopStart, loopEnd, transposition, rate});
            }
        }
    }

    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        const int outChannels = 1 + int(n % 3);
        const bool withEnvelope = n % 2 == 1;
        const int64_t block = n % 4 < 2 ? 512 : 777;
        SCOPED_TRACE(::testing::Message()
                     << "case " << n << ": " << c.channels << " -> " << outChannels
                     << " channels, loop " << c.loopStart << ".." << c.loopEnd << ", transposed "
                     << c.transposition << " at " << c.outputRate << " Hz");
        const Tone tone{.channels = c.channels,
                        .frames = 40000,
                        .frequency = 2750,
                        .amplitude = 0.9,
                        .loopStart = c.loopStart,
                        .loopEnd = c.loopEnd};
        auto stream = audioStreamOf(c.format, tone, 0.8f);
        stream->ensureDecoded(tone.frames);

        ReferencePlayer reference;
        reference.sound.resize(size_t(tone.frames * c.channels));
        stream->readFrames(0, reference.sound.data(), tone.frames);
        reference.channels = c.channels;
        reference.frames = tone.frames;
        reference.looping = stream->looping();
        reference.loopStart = stream->loopStart();
        reference.loopEnd = stream->loopEnd();
        reference.step = std::exp2(c.transposition / 12.0) * 44100.0 / c.outputRate;
        reference.gain = 0.7f;
        reference.rate = c.outputRate;
        reference.envelope = withEnvelope ? &envelope : nullptr;

        // One player renders, one mixes into a buffer that holds something already;
        // one interpolates through the sinc, which ends where the others do.
        TQ7SamplePlayer render(stream), mix(stream), sinc(stream);
        sinc.setInterpolation(Interpolation::Sinc);
        const float channelGains[3] = {0.5f, -2.0f, 1.5f};
        for (TQ7SamplePlayer* player : {&render, &mix, &sinc}) {
            player->setOutputSampleRate(c.outputRate);
            player->setTransposition(c.transposition);
            player->setGain(0.7f);
            if (withEnvelope) {
                player->setEnvelope(envelope);
            }
        }
        std::vector<float> expected(size_t(block * outChannels)), got(expected.size()),
            mixed(expected.size()), sincs(expected.size());
        for (int64_t done = 0; done < 60000; done += block) {
            if (done == 45000 - 45000 % block) {
                reference.release(0.3);
                render.release(0.3);
                mix.release(0.3);
                sinc.release(0.3);
            }
            std::fill(mixed.begin(), mixed.end(), 0.25f);
            const int64_t want = reference.render(expected.data(), block, outChannels);
            ASSERT_EQ(render.render(got.data(), block, outChannels), want) << done;
            ASSERT_EQ(mix.mix(mixed.data(), block, outChannels, channelGains), want) << done;
            ASSERT_EQ(sinc.render(sincs.data(), block, outChannels), want) << done;
            for (size_t i = 0; i < expected.size(); ++i) {
                ASSERT_LT(std::fabs(sincs[i]), 1.0f)
                    << "sinc frame " << done + int64_t(i) / outChannels;
                ASSERT_NEAR(got[i], expected[i], 1e-5)
                    << "frame " << done + int64_t(i) / outChannels;
                ASSERT_NEAR(mixed[i] - 0.25f, expected[i] * channelGains[i % size_t(outChannels)],
                            2e-5)
                    << "mixed frame " << done + int64_t(i) / outChannels;
            }
        }
        EXPECT_EQ(render.finished(), mix.finished());
    }
}

TEST(Render, SincInterpolationIsCleanAndBandLimited) {
    // A full-scale sine rendered at a transposition. Its loop holds whole
    // periods, so the played sequence is one unbroken sine through every seam
    // and storage block.
    const auto render = [](double frequency, double transposition, Interpolation interpolation) {
        const Tone tone{.frames = 88200,
                        .frequency = frequency,
                        .amplitude = 1.0,
                        .loopStart = 22050,
                        .loopEnd = 66150};
        TQ7SamplePlayer player(audioStreamOf(AudioFormat::WavFloat, tone));
        player.setTransposition(transposition);
        player.setInterpolation(interpolation);
        return play(player, 3 * 44100, 1);
    };
    const auto quality = [&](double transposition, Interpolation interpolation) {
        return sinad(render(5000, transposition, interpolation),
                     5000 * std::exp2(transposition / 12.0) / 44100.0, 64);
    };
    // 5 kHz: down an octave its image at 19.55 kHz must be rejected, up a fifth
    // the kernel narrows. The cubic leaves errors near -45 dB there.
    for (double transposition : {7.0, -12.0}) {
        SCOPED_TRACE(transposition);
        EXPECT_GT(quality(transposition, Interpolation::Sinc), 90.0);
        EXPECT_GT(quality(transposition, Interpolation::Cubic), 40.0);
        EXPECT_LT(quality(transposition, Interpolation::Cubic), 60.0);
    }
    // 19 kHz up a fifth lies above the output's Nyquist frequency: the sinc
    // removes it (below -90 dB), where the cubic folds it back almost whole.
    const auto level = [](const std::vector<float>& out) {
        double sum = 0.0;
        for (size_t j = 64; j < out.size(); ++j) {
            sum += out[j] * out[j];
        }
        return 10.0 * std::log10(sum / double(out.size() - 64) / 0.5);
    };
    EXPECT_LT(level(render(19000, 7.0, Interpolation::Sinc)), -90.0);
    EXPECT_GT(level(render(19000, 7.0, Interpolation::Cubic)), -6.0);
}
