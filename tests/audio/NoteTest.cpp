// A player as a note: released into the recorded tail, and shaped by an envelope.

#include "AudioTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace oxtest;
using ox::audio::Envelope;
using ox::audio::TQ7SamplePlayer;

TEST(TQ7SamplePlayer, ReleaseEndsTheLoopForThatPlayerAloneAndPlaysTheTail) {
    // 437 Hz: frame 21000 (past the loop end) and frame 1000 (its start) differ.
    const Tone tone{.frames = 30000, .frequency = 437, .loopStart = 1000, .loopEnd = 21000};
    auto stream = audioStreamOf(AudioFormat::Wav16, tone);
    std::vector<float> all(30000);
    ASSERT_EQ(stream->readFrames(0, all.data(), 30000), 30000);

    TQ7SamplePlayer released(stream), held(stream);
    play(released, 25000, 1); // around the loop once: at frame 5000 of the sound
    play(held, 25000, 1);
    // So slow a release that the tail is heard as recorded.
    released.release(100000.0);
    int64_t sounding = 0;
    const std::vector<float> tail = play(released, 40000, 1, &sounding);
    EXPECT_EQ(sounding, 25000);
    EXPECT_TRUE(released.finished());
    for (size_t f : {0, 15999, 16000, 24999}) {
        EXPECT_NEAR(tail[f], all[5000 + f], 1e-3) << f;
    }
    EXPECT_EQ(tail[25000], 0.0f);

    // The other player of the stream goes on looping.
    EXPECT_TRUE(stream->looping());
    const std::vector<float> looped = play(held, 100000, 1, &sounding);
    EXPECT_EQ(sounding, 100000);
    EXPECT_FALSE(held.finished());
    EXPECT_EQ(looped[16000], all[1000]);

    // A short release reaches silence long before the sound's end.
    held.release(0.01);
    play(held, 1000, 1, &sounding);
    EXPECT_NEAR(sounding, 441, 1);
    EXPECT_TRUE(held.finished());

    // One that loops through its release stays in the loop until it is silent,
    // far beyond the sound's end (its position is frame 5000 here, as above).
    TQ7SamplePlayer looping(stream);
    looping.setLoopsThroughRelease(true);
    play(looping, 25000, 1);
    looping.release(100000.0);
    const std::vector<float> kept = play(looping, 60000, 1, &sounding);
    EXPECT_EQ(sounding, 60000);
    EXPECT_FALSE(looping.finished());
    EXPECT_NEAR(kept[16000], all[1000], 1e-3); // went round the loop, not into the tail
    EXPECT_NEAR(kept[56000], all[1000], 1e-3);
}

TEST(Envelope, LevelsAtChosenFrames) {
    // 1000 frames a second; at 125 Hz every frame 2, 6, 10... is at full amplitude 0.5.
    const Tone tone{.sampleRate = 1000, .frames = 2000, .frequency = 125};
    auto stream = audioStreamOf(AudioFormat::WavFloat, tone);
    // Delay to frame 10, attack to 30, hold to 40, decay to -20 dB at 140, release at 300
    // falls from -20 dB to -100 dB by 350.
    const Envelope envelope{.delay = 0.01f,
                            .attack = 0.02f,
                            .hold = 0.01f,
                            .decay = 0.1f,
                            .sustain = 0.1f,
                            .release = 0.05f};
    const auto expected = [](int f) {
        if (f < 10) {
            return 0.0;
        }
        if (f < 30) {
            return (f - 10) / 20.0;
        }
        if (f < 40) {
            return 1.0;
        }
        if (f < 140) {
            return std::pow(10.0, -0.2 * (f - 40) / 20.0);
        }
        if (f < 300) {
            return 0.1;
        }
        return std::pow(10.0, (-20.0 - 1.6 * (f - 300)) / 20.0);
    };
    // Mono output copies the stream, stereo output maps it: both apply the envelope.
    for (int channels : {1, 2}) {
        TQ7SamplePlayer player(stream);
        player.setEnvelope(envelope);
        std::vector<float> out = play(player, 300, channels);
        player.release();
        int64_t sounding = 0;
        const std::vector<float> after = play(player, 100, channels, &sounding);
        out.insert(out.end(), after.begin(), after.end());
        EXPECT_EQ(sounding, 50);
        EXPECT_TRUE(player.finished());
        for (int f : {2, 18, 26, 34, 42, 90, 138, 202, 298, 302, 326, 346}) {
            const double sample = 0.5 * std::sin(M_PI * f / 4.0);
            EXPECT_NEAR(out[size_t(f * channels)] / sample, expected(f), 1e-3 * expected(f) + 1e-6)
                << f << " with " << channels << " channels";
        }
    }

    // Timed from full level, the release falls 100 dB in its 50 frames from
    // wherever it starts: from the sustain (-20 dB) in 40, from -10 dB in 45.
    Envelope fromFull = envelope;
    fromFull.releaseFromFull = true;
    for (const auto& [releasedAt, frames] : {std::pair{300, 40}, {90, 45}}) {
        TQ7SamplePlayer player(stream);
        player.setEnvelope(fromFull);
        play(player, releasedAt, 1);
        EXPECT_NEAR(player.releaseTime(), frames / 1000.0, 1e-4) << releasedAt;
        player.release();
        int64_t sounding = 0;
        const std::vector<float> after = play(player, 100, 1, &sounding);
        EXPECT_NEAR(sounding, frames, 1) << releasedAt;
        // 20 dB below where it started after 10 frames, as a full-level release falls.
        const double start = std::pow(10.0, (releasedAt == 300 ? -20.0 : -10.0) / 20.0);
        const int f = releasedAt % 4 == 0 ? 10 : 12; // a frame at the sine's full amplitude
        EXPECT_NEAR(std::fabs(after[size_t(f)]) / 0.5, start * std::pow(10.0, -2.0 * f / 20.0),
                    0.02 * start)
            << releasedAt;
    }
}
