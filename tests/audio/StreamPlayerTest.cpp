#include "AudioTestUtil.h"

#include <ox/audio/TQ7SamplePlayer.h>

#include <gtest/gtest.h>

using namespace oxtest;
using ox::audio::AudioStream;
using ox::audio::TQ7SamplePlayer;

TEST(AudioStream, DecodesProgressivelyAndHoldsSixteenBitsCompactly) {
    const Tone tone{.channels = 2, .frames = 100000};
    // 16-bit sources are held in 2 bytes a sample, deeper ones as float.
    for (auto [format, sampleBytes] :
         {std::pair{AudioFormat::Flac16, 2}, {AudioFormat::Wav24, 4}}) {
        SCOPED_TRACE(int(format));
        const std::string bytes = encodeTone(format, tone);
        auto stream =
            std::make_shared<AudioStream>(decoderFor(format, memoryStream(bytes), 0.5f), 0);
        const int64_t first = stream->decodedFrames();
        EXPECT_GT(first, 0);
        EXPECT_LE(first, 32768);
        EXPECT_EQ(stream->byteCount(), unsigned(first * 2 * sampleBytes));

        TQ7SamplePlayer player(stream);
        int64_t sounding = 0;
        std::vector<float> out = play(player, 120000, 2, &sounding);
        EXPECT_EQ(sounding, 100000);
        EXPECT_TRUE(player.finished());
        EXPECT_EQ(stream->decodedFrames(), 100000);
        EXPECT_EQ(stream->byteCount(), 100000u * 2 * unsigned(sampleBytes));

        // Transposition 0 at the stream's rate plays the decoded frames with the gain, then
        // silence; 24-bit sources keep their precision.
        const std::vector<float> reference = referenceFrames(bytes);
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(out[i], i < reference.size() ? reference[i] * 0.5f : 0.0f) << i;
        }

        // readFrames gives the same, clipped at the end.
        std::vector<float> tail(200);
        EXPECT_EQ(stream->readFrames(99950, tail.data(), 100), 50);
        EXPECT_EQ(tail[0], reference[99950 * 2] * 0.5f);
        EXPECT_EQ(stream->readFrames(100000, tail.data(), 10), 0);

        // A preload decodes at least that much up front.
        EXPECT_GE(AudioStream(decoderFor(format, memoryStream(bytes)), 50000).decodedFrames(),
                  50000);
    }
}

TEST(AudioStream, EmptyStreamsAndCutFiles) {
    float buffer[8] = {};
    EXPECT_EQ(AudioStream(nullptr, 0).readFrames(0, buffer, 4), 0);
    for (auto stream :
         {std::shared_ptr<AudioStream>(), std::make_shared<AudioStream>(nullptr, 0)}) {
        TQ7SamplePlayer player(stream);
        EXPECT_TRUE(player.finished());
        int64_t sounding = 1;
        const std::vector<float> out = play(player, 64, 2, &sounding);
        EXPECT_EQ(sounding, 0);
        EXPECT_EQ(out, std::vector<float>(128, 0.0f));
    }

    // A cut file announces more than it delivers: the sound ends where decoding
    // stopped, and a loop reaching beyond that is dropped.
    const Tone tone{.frames = 100000, .loopStart = 1000, .loopEnd = 90000};
    const std::string bytes = encodeTone(AudioFormat::Flac16, tone);
    auto cut = std::make_shared<AudioStream>(
        decoderFor(AudioFormat::Flac16, memoryStream(bytes.substr(0, bytes.size() / 2))), 0);
    EXPECT_TRUE(cut->looping());
    TQ7SamplePlayer player(cut);
    int64_t sounding = 0;
    play(player, 150000, 1, &sounding);
    EXPECT_TRUE(player.finished());
    EXPECT_GT(sounding, 40000); // well after the first block
    EXPECT_LT(sounding, 90000);
    EXPECT_EQ(cut->frameCount(), sounding);
    EXPECT_FALSE(cut->looping());
}

TEST(TQ7SamplePlayer, LoopedSoundsKeepPlayingUntilTheLoopIsDisabled) {
    const Tone tone{.frames = 30000, .loopStart = 1000, .loopEnd = 21000};
    for (AudioFormat format : {AudioFormat::Wav16, AudioFormat::Flac16, AudioFormat::OggVorbis}) {
        SCOPED_TRACE(int(format));
        // Without a loop, or with one that does not fit the sound, nothing loops.
        Tone plain = tone, beyond = tone;
        plain.loopStart = plain.loopEnd = -1;
        beyond.loopEnd = 30001;
        EXPECT_FALSE(audioStreamOf(format, plain)->looping() ||
                     audioStreamOf(format, beyond)->looping());
        // The decoder still tells the loop the file states, for a bank check to report.
        ox::audio::IDecoder::Loop declared;
        EXPECT_FALSE(audioStreamOf(format, plain)->decoder()->declaredLoop(declared));
        ASSERT_TRUE(audioStreamOf(format, beyond)->decoder()->declaredLoop(declared));
        EXPECT_EQ(declared.start, 1000);
        EXPECT_EQ(declared.end, 30001);

        auto stream = audioStreamOf(format, tone);
        ASSERT_TRUE(stream->looping());
        std::vector<float> all(30000);
        ASSERT_EQ(stream->readFrames(0, all.data(), 30000), 30000);

        TQ7SamplePlayer player(stream);
        int64_t sounding = 0;
        const std::vector<float> out = play(player, 100000, 1, &sounding);
        EXPECT_EQ(sounding, 100000);
        EXPECT_FALSE(player.finished());
        // Frame 21000 of the output is frame 1000 of the sound, and so on around the loop.
        for (int64_t f : {0, 20999, 21000, 25000, 41000, 99999}) {
            const int64_t source = f < 21000 ? f : 1000 + (f - 1000) % 20000;
            ASSERT_EQ(out[size_t(f)], all[size_t(source)]) << f;
        }
        // Stereo output of a mono loop, transposed, also goes on and on.
        player.setTransposition(7);
        play(player, 100000, 2, &sounding);
        EXPECT_EQ(sounding, 100000);

        stream->disableLoop();
        EXPECT_FALSE(stream->looping());
        play(player, 100000, 2, &sounding);
        EXPECT_LT(sounding, 100000);
        EXPECT_TRUE(player.finished());
    }
}
