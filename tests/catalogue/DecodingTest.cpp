// Decoder choice, playback gain and the directory bank's files.
#include "support/TestSupport.h"

#include <ox/audio/AudioStream.h>

#include <gtest/gtest.h>

#include <tuple>

using oxtest::AudioFormat;
using oxtest::MemoryBank;

namespace {
const oxtest::Tone kTone{};
} // namespace

TEST(Decoding, ExtensionChoosesDecoder) {
    const std::string ogg = oxtest::encodeTone(AudioFormat::OggVorbis, kTone);
    const std::string flac = oxtest::encodeTone(AudioFormat::Flac16, kTone);
    const std::string wav = oxtest::encodeTone(AudioFormat::Wav16, kTone);
    ASSERT_FALSE(ogg.empty());
    MemoryBank bank("", false);
    bank.initialize();
    // Each decoder accepts only its own format, so a wrong choice shows as an empty decoder.
    const std::tuple<const char*, const std::string&, bool> cases[] = {
        {"x.ogg", ogg, true},     {"x.OGG", ogg, false},  {"x.Ogg", ogg, false},
        {"x.OGG.f", flac, true},  {"x.flac", flac, true}, {"x.aif", flac, true},
        {"x", flac, true},        {"x.wav", wav, true},   {"x.WAV", wav, false},
        {"x.wav.ogg", wav, false}};
    for (const auto& [name, bytes, decodes] : cases) {
        bank.addSample(name, bytes);
        EXPECT_EQ(bank.makeDecoder(bank.sample(name)) != nullptr, decodes) << name;
    }
    // The WAV decoder is asked to keep integer sources compact.
    EXPECT_EQ(bank.makeDecoder(bank.sample("x.wav"))->bitsPerSample(), 16);
}

TEST(Decoding, GainIsBankGainTimesWaveGain) {
    MemoryBank bank(R"(<Bank velocity="1"><SamplesTree><Samples>
        <Sample><Wave file="loud.wav" gain="6"/></Sample></Samples>
        <Node><Samples><Sample><Wave file="loud.wav" gain="-20"/></Sample></Samples></Node>
      </SamplesTree></Bank>)");
    bank.initialize();
    const std::string wav = oxtest::encodeTone(AudioFormat::Wav16, kTone);
    bank.addSample("loud.wav", wav);
    bank.addSample("other.wav", wav);

    const auto loud = bank.makeDecoder(bank.sample("loud.wav"));
    ASSERT_TRUE(loud);
    EXPECT_NEAR(loud->gain(), 3.1623 * 1.9953, 1e-3);
    const auto other = bank.makeDecoder(bank.sample("other.wav"));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->gain(), bank.gain());

    bank.setVelocity(0.5f);
    EXPECT_NEAR(bank.makeDecoder(bank.sample("loud.wav"))->gain(), 0.2610 * 1.9953, 1e-3);
}

TEST(DirectoryBank, ReadsDescriptionAndSamplesFromItsFolder) {
    oxtest::TempDir dir;
    oxtest::writeFile(dir.file("Samples.xml"),
                      R"(<Bank id="dir"><SamplesTree><Samples><Sample midi="60">
                           <Wave file="a.wav" gain="-6"/></Sample></Samples></SamplesTree></Bank>)");
    ASSERT_TRUE(oxtest::writeTone(dir.file("Samples/a.wav"), AudioFormat::Wav16, kTone));

    const std::string root = dir.path().string();
    for (const std::string& path : {root, root + "/"}) {
        ox::soundfont::SoundFontV6 bank(path);
        bank.initialize();
        EXPECT_EQ(bank.id(), "dir");
        ASSERT_TRUE(bank.sampleXML());
        EXPECT_EQ(bank.sampleXML()->name(), path + "/Samples.xml"); // joined as given
        ASSERT_TRUE(bank.sample("a.wav"));
        EXPECT_EQ(bank.sample("a.wav")->name(), path + "/Samples/a.wav");

        const auto a = bank.audioStream("a.wav");
        ASSERT_TRUE(a);
        EXPECT_EQ(a->frameCount(), kTone.frames);
        EXPECT_NEAR(a->decoder()->gain(), bank.gain() * 0.5012f, 1e-4);
        EXPECT_FALSE(bank.audioStream("missing.wav"));
        EXPECT_FALSE(bank.sample("Samples.xml"));
    }

    ox::soundfont::SoundFontV6 empty(dir.file("nowhere"));
    empty.initialize();
    EXPECT_FALSE(empty.sampleXML());
    EXPECT_EQ(empty.id(), "");
}
