#include "AudioTestUtil.h"

#include <gtest/gtest.h>

#include <ox/audio/TQ7SamplePlayer.h>

#include <cmath>
#include <cstdlib>

using namespace oxtest;
using ox::audio::FlacDecoder;
using ox::audio::IDecoder;
using ox::audio::OggVorbisDecoder;
using ox::audio::WavDecoder;

namespace {

struct Case {
    AudioFormat format;
    int channels;
    int bits;
    float tolerance; ///< against libsndfile's own reading
};

std::vector<float> readAll(IDecoder& decoder) {
    std::vector<float> out(static_cast<size_t>(decoder.frameCount() * decoder.channels()));
    const int64_t got = decoder.readFrames(out.data(), decoder.frameCount());
    out.resize(static_cast<size_t>(got * decoder.channels()));
    return out;
}

} // namespace

TEST(Decoders, DecodeWhatWasWrittenInEveryFormat) {
    const Case cases[] = {
        {AudioFormat::Wav16, 1, 16, 0.0f},   {AudioFormat::Wav16, 2, 16, 0.0f},
        {AudioFormat::Wav24, 1, 24, 0.0f},   {AudioFormat::Wav24, 2, 24, 0.0f},
        {AudioFormat::WavFloat, 1, 0, 0.0f}, {AudioFormat::Flac16, 2, 16, 0.0f},
        {AudioFormat::Flac24, 1, 24, 0.0f},  {AudioFormat::OggVorbis, 2, 0, 1e-6f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.format) << " channels " << c.channels);
        Tone tone;
        tone.channels = c.channels;
        tone.sampleRate = 22050;
        tone.frames = 5000;
        const std::string bytes = encodeTone(c.format, tone);
        auto decoder = decoderFor(c.format, streamOf(bytes), 0.5f);
        ASSERT_TRUE(decoder);
        EXPECT_EQ(decoder->channels(), c.channels);
        EXPECT_EQ(decoder->sampleRate(), 22050);
        EXPECT_EQ(decoder->frameCount(), 5000);
        EXPECT_EQ(decoder->bitsPerSample(), c.bits);
        EXPECT_FLOAT_EQ(decoder->gain(), 0.5f);

        const std::vector<float> reference = referenceFrames(bytes);
        const std::vector<float> decoded = readAll(*decoder);
        ASSERT_EQ(decoded.size(), reference.size());
        const std::vector<float> written = toneSamples(tone);
        for (size_t i = 0; i < decoded.size(); ++i) {
            ASSERT_NEAR(decoded[i], reference[i] * 0.5f, c.tolerance) << i;
            if (c.format != AudioFormat::OggVorbis) {
                ASSERT_NEAR(reference[i], written[i], 1.0f / 32768) << i;
            }
        }
        // Vorbis is lossy, but the tone must still be the tone.
        if (c.format == AudioFormat::OggVorbis) {
            double error = 0;
            for (size_t i = 0; i < decoded.size(); ++i)
                error += std::fabs(decoded[i] * 2 - written[i]);
            EXPECT_LT(error / double(decoded.size()), 0.02);
        }
    }
}

TEST(Decoders, SixteenBitReadsAndSeeking) {
    Tone tone;
    tone.channels = 2;
    tone.frames = 3000;
    const std::string bytes = encodeTone(AudioFormat::Flac16, tone);
    const std::vector<float> reference = referenceFrames(bytes);
    auto decoder = FlacDecoder::make(streamOf(bytes), 3.0f);
    ASSERT_TRUE(decoder);

    // Integer reads ignore the gain and match the float reference exactly.
    std::vector<int16_t> ints(6000);
    ASSERT_EQ(decoder->readFrames16(ints.data(), 3000), 3000);
    for (size_t i = 0; i < ints.size(); ++i)
        ASSERT_EQ(float(ints[i]) / 32768.0f, reference[i]) << i;

    ASSERT_TRUE(decoder->seekFrame(1000));
    std::vector<float> floats(20);
    ASSERT_EQ(decoder->readFrames(floats.data(), 10), 10);
    for (size_t i = 0; i < floats.size(); ++i)
        EXPECT_FLOAT_EQ(floats[i], reference[2000 + i] * 3.0f);
    EXPECT_FALSE(decoder->seekFrame(-1));
    EXPECT_FALSE(decoder->seekFrame(3001));

    // Asked for float output, a WAV decoder reports no integer depth (so streams hold float).
    const std::string wav = encodeTone(AudioFormat::Wav16, tone);
    EXPECT_EQ(WavDecoder::make(streamOf(wav), 1.0f, true)->bitsPerSample(), 0);
}

TEST(Decoders, EachFactoryRejectsWhatItCannotDecode) {
    const std::string wav = encodeTone(AudioFormat::Wav16, Tone{});
    const std::string flac = encodeTone(AudioFormat::Flac16, Tone{});
    const std::string ogg = encodeTone(AudioFormat::OggVorbis, Tone{});
    auto wavOf = [](const std::string& b) { return WavDecoder::make(streamOf(b), 1, false); };
    auto flacOf = [](const std::string& b) { return FlacDecoder::make(streamOf(b), 1); };
    auto oggOf = [](const std::string& b) { return OggVorbisDecoder::make(streamOf(b), 1); };

    EXPECT_TRUE(wavOf(wav) && flacOf(flac) && oggOf(ogg));
    EXPECT_FALSE(wavOf(flac) || wavOf(ogg) || flacOf(wav) || flacOf(ogg) || oggOf(wav) ||
                 oggOf(flac));
    EXPECT_FALSE(WavDecoder::make(nullptr, 1, false) || FlacDecoder::make(nullptr, 1) ||
                 OggVorbisDecoder::make(nullptr, 1));

    std::string garbage(4096, '\0');
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919 + 13) % 251);
    for (const std::string& bad : {std::string(), garbage})
        EXPECT_FALSE(wavOf(bad) || flacOf(bad) || oggOf(bad));
    // Right magic, nothing behind it.
    EXPECT_FALSE(wavOf(wav.substr(0, 24)));
    EXPECT_FALSE(flacOf(flac.substr(0, 20)));
    EXPECT_FALSE(oggOf(ogg.substr(0, 40)));
    EXPECT_FALSE(flacOf("fLaC" + garbage));
    EXPECT_FALSE(oggOf("OggS" + garbage));
    EXPECT_FALSE(wavOf("RIFF\x10\0\0\0WAVE" + garbage));
}

TEST(Decoders, LoopRegions) {
    Tone tone;
    tone.frames = 2000;
    tone.loopStart = 500;
    tone.loopEnd = 1500;
    for (AudioFormat format : {AudioFormat::Wav16, AudioFormat::Flac16, AudioFormat::OggVorbis}) {
        SCOPED_TRACE(int(format));
        auto decoder = decoderFor(format, streamOf(encodeTone(format, tone)));
        ASSERT_TRUE(decoder);
        IDecoder::Loop loop;
        ASSERT_TRUE(decoder->loop(loop));
        EXPECT_EQ(loop.start, 500);
        EXPECT_EQ(loop.end, 1500);
    }

    // No loop, and loops that do not fit the sound, are reported as none.
    Tone plain;
    Tone beyond = tone;
    beyond.loopStart = 1800;
    beyond.loopEnd = 2500;
    for (const Tone& t : {plain, beyond}) {
        for (AudioFormat format : {AudioFormat::Wav16, AudioFormat::Flac16}) {
            auto decoder = decoderFor(format, streamOf(encodeTone(format, t)));
            ASSERT_TRUE(decoder);
            IDecoder::Loop loop;
            EXPECT_FALSE(decoder->loop(loop));
        }
    }
}

TEST(Decoders, DamagedAndCutFilesNeverCrash) {
    // Flipped bytes anywhere in a valid file, or a cut anywhere: the decoder
    // either refuses the file or its stream plays no more than it announced.
    const int rounds =
        std::getenv("OX_AUDIO_FUZZ_ROUNDS") ? std::atoi(std::getenv("OX_AUDIO_FUZZ_ROUNDS")) : 60;
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    Tone tone;
    tone.channels = 2;
    tone.frames = 3000;
    tone.loopStart = 100;
    tone.loopEnd = 2000;
    for (AudioFormat format :
         {AudioFormat::Wav16, AudioFormat::Wav24, AudioFormat::Flac16, AudioFormat::OggVorbis}) {
        const std::string original = encodeTone(format, tone);
        for (int round = 0; round < rounds; ++round) {
            std::string bytes = original;
            if (round % 2) {
                bytes.resize(next() % bytes.size());
            } else {
                for (int f = 1 + int(next() % 8); f > 0; --f)
                    bytes[next() % bytes.size()] = char(next());
            }
            auto stream =
                std::make_shared<ox::audio::AudioStream>(decoderFor(format, streamOf(bytes)), 0);
            ox::audio::TQ7SamplePlayer player(stream);
            player.setTransposition(double(next() % 25) - 12.0);
            std::vector<float> out(2 * 8192);
            for (int block = 0; block < 4 && !player.finished(); ++block)
                EXPECT_LE(player.render(out.data(), 8192, 2), 8192);
            EXPECT_LE(stream->decodedFrames(), stream->frameCount());
        }
    }
}
