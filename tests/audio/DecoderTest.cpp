#include "AudioTestUtil.h"

#include <gtest/gtest.h>

#include <ox/audio/TQ7SamplePlayer.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace oxtest;
using ox::audio::FlacDecoder;
using ox::audio::OggVorbisDecoder;
using ox::audio::WavDecoder;

TEST(Decoders, DecodeWhatWasWrittenInEveryFormat) {
    struct Case {
        AudioFormat format;
        int channels;
        int bits;
    };
    const Case cases[] = {
        {AudioFormat::Wav16, 1, 16},    {AudioFormat::Wav16, 2, 16},  {AudioFormat::Wav24, 2, 24},
        {AudioFormat::WavFloat, 1, 0},  {AudioFormat::Flac16, 2, 16}, {AudioFormat::Flac24, 1, 24},
        {AudioFormat::OggVorbis, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.format) << " channels " << c.channels);
        const bool lossy = c.format == AudioFormat::OggVorbis;
        const Tone tone{.channels = c.channels, .sampleRate = 22050, .frames = 5000};
        const std::string bytes = encodeTone(c.format, tone);
        auto decoder = decoderFor(c.format, memoryStream(bytes), 0.5f);
        ASSERT_TRUE(decoder);
        EXPECT_EQ(decoder->channels(), c.channels);
        EXPECT_EQ(decoder->sampleRate(), 22050);
        EXPECT_EQ(decoder->frameCount(), 5000);
        EXPECT_EQ(decoder->bitsPerSample(), c.bits);

        const std::vector<float> reference = referenceFrames(bytes);
        const std::vector<float> written = toneSamples(tone);
        ASSERT_EQ(reference.size(), written.size());
        std::vector<float> decoded(written.size());
        ASSERT_EQ(decoder->readFrames(decoded.data(), 5000), 5000);
        const float tolerance = lossy ? 1e-6f : 0.0f;
        double worst = 0, total = 0;
        for (size_t i = 0; i < decoded.size(); ++i) {
            ASSERT_NEAR(decoded[i], reference[i] * 0.5f, tolerance) << i;
            const double error = std::fabs(decoded[i] * 2.0 - written[i]);
            worst = std::max(worst, error);
            total += error;
        }
        // Vorbis is lossy, but the tone must still be the tone.
        EXPECT_LE(lossy ? total / double(decoded.size()) : worst, lossy ? 0.02 : 1.0 / 32768);

        // Reads resume where a seek puts them; 16-bit reads skip the gain and match exactly.
        EXPECT_FALSE(decoder->seekFrame(-1) || decoder->seekFrame(5001));
        ASSERT_TRUE(decoder->seekFrame(1000));
        const size_t at = size_t(1000 * c.channels);
        std::vector<float> after(size_t(10 * c.channels));
        std::vector<int16_t> ints(after.size());
        if (c.bits == 16) {
            ASSERT_EQ(decoder->readFrames16(ints.data(), 10), 10);
            std::transform(ints.begin(), ints.end(), after.begin(),
                           [](int16_t v) { return float(v) / 65536.0f; }); // as if with gain 0.5
        } else {
            ASSERT_EQ(decoder->readFrames(after.data(), 10), 10);
        }
        for (size_t i = 0; i < after.size(); ++i) {
            ASSERT_NEAR(after[i], reference[at + i] * 0.5f, tolerance) << i;
        }
    }
    // Asked for float output, a WAV decoder reports no integer depth (so streams hold float).
    const std::string wav = encodeTone(AudioFormat::Wav16, Tone{});
    EXPECT_EQ(WavDecoder::make(memoryStream(wav), 1.0f, true)->bitsPerSample(), 0);
}

TEST(Decoders, EachFactoryRejectsWhatItCannotDecode) {
    const std::string wav = encodeTone(AudioFormat::Wav16, Tone{});
    const std::string flac = encodeTone(AudioFormat::Flac16, Tone{});
    const std::string ogg = encodeTone(AudioFormat::OggVorbis, Tone{});
    auto wavOf = [](const std::string& b) { return WavDecoder::make(memoryStream(b), 1, false); };
    auto flacOf = [](const std::string& b) { return FlacDecoder::make(memoryStream(b), 1); };
    auto oggOf = [](const std::string& b) { return OggVorbisDecoder::make(memoryStream(b), 1); };

    EXPECT_TRUE(wavOf(wav) && flacOf(flac) && oggOf(ogg));
    EXPECT_FALSE(wavOf(flac) || wavOf(ogg) || flacOf(wav) || flacOf(ogg) || oggOf(wav) ||
                 oggOf(flac));
    EXPECT_FALSE(WavDecoder::make(nullptr, 1, false) || FlacDecoder::make(nullptr, 1) ||
                 OggVorbisDecoder::make(nullptr, 1));

    std::string garbage(4096, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = char((i * 7919 + 13) % 251);
    }
    for (const std::string& bad : {std::string(), garbage}) {
        EXPECT_FALSE(wavOf(bad) || flacOf(bad) || oggOf(bad));
    }
    // Right magic, nothing (or garbage) behind it.
    EXPECT_FALSE(wavOf(wav.substr(0, 24)) || flacOf(flac.substr(0, 20)) ||
                 oggOf(ogg.substr(0, 40)));
    EXPECT_FALSE(flacOf("fLaC" + garbage) || oggOf("OggS" + garbage) ||
                 wavOf("RIFF\x10\0\0\0WAVE" + garbage));
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
    const Tone tone{.channels = 2, .frames = 3000, .loopStart = 100, .loopEnd = 2000};
    for (AudioFormat format :
         {AudioFormat::Wav16, AudioFormat::Wav24, AudioFormat::Flac16, AudioFormat::OggVorbis}) {
        const std::string original = encodeTone(format, tone);
        for (int round = 0; round < rounds; ++round) {
            std::string bytes = original;
            if (round % 2) {
                bytes.resize(next() % bytes.size());
            } else {
                for (int f = 1 + int(next() % 8); f > 0; --f) {
                    bytes[next() % bytes.size()] = char(next());
                }
            }
            auto stream = std::make_shared<ox::audio::AudioStream>(
                decoderFor(format, memoryStream(bytes)), 0);
            ox::audio::TQ7SamplePlayer player(stream);
            player.setTransposition(double(next() % 25) - 12.0);
            std::vector<float> out(2 * 8192);
            for (int block = 0; block < 4 && !player.finished(); ++block) {
                EXPECT_LE(player.render(out.data(), 8192, 2), 8192);
            }
            EXPECT_LE(stream->decodedFrames(), stream->frameCount());
        }
    }
}
