#include "ArchiveTestSupport.h"
#include "archive/ArchiveWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace archivetest;
using ox::soundfont::SoundFontV6;
using ox::soundfont::SoundFontV7;

namespace {

const char* kXml = R"(<Bank id="arc-1" name="Arc" type="Guitar" description="Packed" velocity="0.5"
    tuning="40 45 50"><SamplesTree class="Normal"><Samples>
    <Sample midi="60" dynamic="MF"><Wave file="a.wav" gain="-6"/><Wave file="b.ogg"
        pickup="neck"/></Sample></Samples></SamplesTree></Bank>)";

} // namespace

TEST(ArchiveBank, PackedBankAnswersLikeItsDirectory) {
    oxtest::TempDir dir;
    const std::string bank = dir.file("bank");
    oxtest::writeFile(bank + "/Samples.xml", kXml);
    std::filesystem::create_directories(bank + "/Samples");
    ASSERT_TRUE(oxtest::writeTone(bank + "/Samples/a.wav", oxtest::AudioFormat::Wav16, {}));
    ASSERT_TRUE(oxtest::writeTone(bank + "/Samples/b.ogg", oxtest::AudioFormat::OggVorbis, {}));
    oxtest::writeFile(bank + "/Samples/sub/ignored.wav", "not packed");
    const std::string path = dir.file("bank.tq7bank");
    oxsf::archive::packDirectoryBank(bank, path);

    SoundFontV6 folder(bank);
    SoundFontV7 archive(path);
    folder.initialize();
    archive.initialize();
    EXPECT_EQ(archive.id(), "arc-1");
    EXPECT_EQ(archive.name(), folder.name());
    EXPECT_EQ(archive.type(), folder.type());
    EXPECT_EQ(archive.description(), folder.description());
    EXPECT_EQ(archive.tuning(), folder.tuning());
    EXPECT_EQ(archive.velocity(), folder.velocity());
    ASSERT_EQ(archive.layer().samples.size(), 1u);
    EXPECT_EQ(archive.layer().samples[0].wavs.size(), 2u);
    EXPECT_EQ(archive.layer().samples[0].wavs[0].gain, folder.layer().samples[0].wavs[0].gain);

    for (const char* name : {"a.wav", "b.ogg"}) {
        EXPECT_EQ(entry(archive, name), oxtest::readFile(bank + "/Samples/" + name)) << name;
        EXPECT_EQ(archive.sample(name)->name(), path + "/" + name);
        auto packed = archive.audioStream(name);
        auto loose = folder.audioStream(name);
        ASSERT_TRUE(packed && loose) << name;
        EXPECT_FALSE(packed->empty());
        EXPECT_EQ(packed->frameCount(), loose->frameCount());
        EXPECT_EQ(packed->gain(), loose->gain());
    }
    EXPECT_EQ(archive.sampleXML()->name(), path + "/Samples.xml");
    // Names are exact: no case folding, no folder, no stray entries.
    for (const char* name :
         {"A.WAV", "Samples/a.wav", "/a.wav", "sub/ignored.wav", "ignored.wav"}) {
        EXPECT_FALSE(archive.sample(name)) << name;
        EXPECT_FALSE(archive.audioStream(name)) << name;
    }
}

TEST(ArchiveBank, IndexRules) {
    oxtest::TempDir dir;
    // Index first, data afterwards in reverse order, arbitrary skipped header words,
    // two records named Samples.xml of which the first counts.
    const std::string dataA = "first-description", dataB = "second", dataC = "upper";
    auto records = [&](uint32_t dataStart) {
        return record(dataStart + dataC.size() + dataB.size(), uint32_t(dataA.size()),
                      "Samples.xml") +
               record(dataStart + dataC.size(), uint32_t(dataB.size()), "Samples.xml") +
               record(dataStart, uint32_t(dataC.size()), "x.OGG");
    };
    const uint32_t dataStart = 25 + uint32_t(records(0).size());
    const std::string bytes =
        header(3, 25, 0xffffffffu, 0xdeadbeefu) + records(dataStart) + dataC + dataB + dataA;
    oxtest::writeFile(dir.file("a.jux"), bytes);
    SoundFontV7 bank(dir.file("a.jux"));
    EXPECT_EQ(entry(bank, "Samples.xml"), dataA);
    EXPECT_EQ(entry(bank, "x.OGG"), dataC);
    EXPECT_EQ(entry(bank, "x.ogg"), "<none>");

    // Lower-case magic, and a right magic with zero entries: no entries at all.
    oxtest::writeFile(dir.file("lower.jux"),
                      header(1, 25, 0, 0, "oxarchive") + record(0, 9, "Samples.xml"));
    oxtest::writeFile(dir.file("zero.jux"), header(0, 25) + record(0, 9, "Samples.xml"));
    for (const char* name : {"lower.jux", "zero.jux"}) {
        SoundFontV7 empty(dir.file(name));
        EXPECT_FALSE(empty.sampleXML()) << name;
        empty.initialize();
        EXPECT_EQ(empty.id(), "") << name;
    }
}

TEST(ArchiveBank, DamagedArchivesAreHarmless) {
    oxtest::TempDir dir;
    const std::string data = "0123456789";
    // The header claims 2^32-1 records; the file holds a few, then the last name is cut off.
    const std::string body = data + record(25, 10, "whole") + record(30, 100, "short") +
                             record(1000, 5, "beyond") + record(0x80000000LL, 4, "negative") +
                             record(0x100000000LL + 27, 3, "high") +
                             record(25, 0xffffffffu, "huge") + record(25, 1, "cut");
    const std::string file = (header(0xffffffffu, 35) + body).substr(0, 25 + body.size() - 1);
    oxtest::writeFile(dir.file("hostile.tq7bank"), file);
    SoundFontV7 bank(dir.file("hostile.tq7bank"));
    EXPECT_EQ(entry(bank, "whole"), data);
    EXPECT_EQ(entry(bank, "short"), file.substr(30, 100)); // clipped to the file
    EXPECT_EQ(entry(bank, "beyond"), "");
    EXPECT_EQ(entry(bank, "negative"), "");
    EXPECT_EQ(entry(bank, "high"), "234"); // only the low 32 bits of the offset count
    EXPECT_EQ(entry(bank, "huge"), "");    // a size of -1 as a 32-bit signed number
    EXPECT_EQ(entry(bank, "cut"), "<none>");

    // Shorter than the header, even with the magic: not an archive.
    oxtest::writeFile(dir.file("tiny.tq7bank"), header(1, 25).substr(0, 24));
    // An index offset past the end of the file.
    oxtest::writeFile(dir.file("far.tq7bank"), header(5, 0x7fffffffu));
    for (const char* name : {"tiny.tq7bank", "far.tq7bank", "missing.tq7bank"}) {
        SoundFontV7 empty(dir.file(name));
        empty.initialize();
        EXPECT_FALSE(empty.sampleXML()) << name;
        EXPECT_FALSE(empty.audioStream("x.wav")) << name;
        EXPECT_EQ(empty.id(), "") << name;
        EXPECT_EQ(empty.description(), "") << name;
        EXPECT_TRUE(empty.layer().samples.empty()) << name;
    }
}

TEST(ArchiveBank, FixedNamesPlayWithoutLoop) {
    oxtest::TempDir dir;
    oxtest::Tone tone;
    tone.frames = 4410;
    tone.loopStart = 100;
    tone.loopEnd = 4000;
    const std::string looped = oxtest::encodeTone(oxtest::AudioFormat::OggVorbis, tone);
    const std::string stem = "HillsideGrand9-Key-Sus-none-";
    const std::vector<std::string> once = {stem + "03-none-081-none.ogg",
                                           stem + "05-none-093-none.ogg",
                                           stem + "07-none-108-none.ogg"};
    const std::vector<std::string> looping = {
        stem + "06-none-093-none.ogg", stem + "05-none-092-none.ogg", stem + "05-none-111-none.ogg",
        stem + "02-none-081-none.ogg"};
    std::vector<oxsf::archive::ArchiveInput> inputs;
    for (const auto* names : {&once, &looping})
        for (const auto& name : *names)
            inputs.push_back(oxsf::archive::ArchiveInput::fromBytes(name, looped));
    oxsf::archive::writeArchive(dir.file("loops.tq7bank"), inputs);

    SoundFontV7 bank(dir.file("loops.tq7bank"));
    for (const auto& name : once) {
        auto audio = bank.audioStream(name);
        ASSERT_TRUE(audio) << name;
        EXPECT_FALSE(audio->looping()) << name;
    }
    for (const auto& name : looping) {
        auto audio = bank.audioStream(name);
        ASSERT_TRUE(audio) << name;
        EXPECT_TRUE(audio->looping()) << name;
    }
    // The rule belongs to archive banks: a directory bank keeps the loop.
    oxtest::writeFile(dir.file("dir/Samples.xml"), "<Bank/>");
    oxtest::writeFile(dir.file("dir/Samples/" + once[1]), looped);
    EXPECT_TRUE(SoundFontV6(dir.file("dir")).audioStream(once[1])->looping());
}
