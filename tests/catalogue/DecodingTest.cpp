// Decoder choice, playback gain and the directory bank's files.
#include "support/TestSupport.h"

#include <ox/audio/AudioStream.h>
#include <soundfont/SoundFontManager.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
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

TEST(DirectoryBank, FifosAndDevicesAreNoFilesAndNeverBlock) {
    // Samples named as a FIFO without a writer and as /dev/zero, and a bank whose
    // description is a FIFO: each is no file (an empty pointer), found at once.
    oxtest::TempDir dir;
    const std::string bank = dir.file("bank"), fifoBank = dir.file("fifo-bank");
    oxtest::writeFile(bank + "/Samples.xml", R"(<Bank id="b"><SamplesTree><Node class="pick">
        <Node class="sustain"><Node class="down"><Samples>
          <Sample midi="60"><Wave file="fifo.wav"/></Sample>
          <Sample midi="70"><Wave file="zero.wav"/></Sample>
        </Samples></Node></Node></Node></SamplesTree></Bank>)");
    std::filesystem::create_directories(bank + "/Samples");
    ASSERT_EQ(mkfifo((bank + "/Samples/fifo.wav").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (bank + "/Samples/zero.wav").c_str()), 0);
    std::filesystem::create_directories(fifoBank);
    ASSERT_EQ(mkfifo((fifoBank + "/Samples.xml").c_str(), 0600), 0);

    // On a thread of its own with a deadline, so that a blocking open fails
    // the test instead of hanging it; it shares nothing with this frame.
    auto found = std::make_shared<std::promise<std::string>>();
    std::future<std::string> result = found->get_future();
    std::thread([bank, fifoBank, found] {
        ox::soundfont::SoundFontManager manager;
        std::string seen;
        if (auto opened = manager.addDirectory(bank)) {
            for (const char* file : {"fifo.wav", "zero.wav"}) {
                seen +=
                    std::string(file) +
                    (opened->sample(file) || opened->audioStream(file) ? " opened, " : " none, ");
            }
            for (int midi : {60, 70}) {
                seen += opened->samplePlayer(midi).first.finished() ? "silent, " : "sounding, ";
            }
        }
        auto described = manager.addDirectory(fifoBank);
        seen += described ? "fifo bank id '" + described->id() + "'" : "no fifo bank";
        found->set_value(seen);
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "opening a FIFO or a device blocked";
    EXPECT_EQ(result.get(), "fifo.wav none, zero.wav none, silent, silent, fifo bank id ''");
}
