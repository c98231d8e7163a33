#include "ArchiveTestSupport.h"
#include "support/TestSupport.h"
#include "write/ArchiveWriter.h"

#include <gtest/gtest.h>

using namespace archivetest;
using ox::soundfont::SoundFontV6;
using ox::soundfont::SoundFontV7;
using oxtest::readRest;

TEST(ArchiveBank, PackedBankAnswersLikeItsDirectory) {
    oxtest::TempDir dir;
    const std::string bank = dir.file("bank");
    oxtest::writeFile(bank + "/Samples.xml",
                      R"(<Bank id="arc-1" name="Arc" type="Guitar" description="Packed"
        velocity="0.5" tuning="40 45 50"><SamplesTree class="Normal"><Samples>
        <Sample midi="60" dynamic="MF"><Wave file="a.wav" gain="-6"/><Wave file="b.ogg"
        pickup="neck"/></Sample></Samples></SamplesTree></Bank>)");
    ASSERT_TRUE(oxtest::writeTone(bank + "/Samples/a.wav", oxtest::AudioFormat::Wav16, {}));
    ASSERT_TRUE(oxtest::writeTone(bank + "/Samples/b.ogg", oxtest::AudioFormat::OggVorbis, {}));
    oxtest::writeFile(bank + "/Samples/sub/ignored.wav", "not packed");
    const std::string path = dir.file("bank.tq7bank");
    oxsf::archive::packDirectoryBank(bank, path);

    SoundFontV6 folder(bank);
    SoundFontV7 archive(path);
    folder.initialize();
    archive.initialize();
    auto summary = [](const ox::soundfont::SoundFont& b) {
        std::string out = b.id() + "|" + b.name() + "|" + b.type() + "|" + b.description() + "|" +
                          std::to_string(b.velocity()) + "|" + oxtest::outline(b.layer());
        for (int pitch : b.tuning()) {
            out += " " + std::to_string(pitch);
        }
        return out;
    };
    EXPECT_EQ(summary(archive), summary(folder));
    EXPECT_EQ(archive.id(), "arc-1");

    for (const char* name : {"a.wav", "b.ogg"}) {
        EXPECT_EQ(readRest(archive.sample(name)), oxtest::readFile(bank + "/Samples/" + name));
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
        EXPECT_FALSE(archive.sample(name) || archive.audioStream(name)) << name;
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
    oxtest::writeFile(dir.file("a.jux"), header(3, 25, 0xffffffffu, 0xdeadbeefu) +
                                             records(dataStart) + dataC + dataB + dataA);
    SoundFontV7 bank(dir.file("a.jux"));
    EXPECT_EQ(readRest(bank.sample("Samples.xml")), dataA);
    EXPECT_EQ(readRest(bank.sample("x.OGG")), dataC);
    EXPECT_EQ(readRest(bank.sample("x.ogg")), "<none>");
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
    // "short" is clipped to the file; of "high" only the low 32 bits of the offset
    // count; the size of "huge" is -1 as a 32-bit signed number.
    const std::pair<const char*, std::string> rows[] = {
        {"whole", data},  {"short", file.substr(30, 100)},
        {"beyond", ""},   {"negative", ""},
        {"high", "234"},  {"huge", ""},
        {"cut", "<none>"}};
    for (const auto& [name, bytes] : rows) {
        EXPECT_EQ(readRest(bank.sample(name)), bytes) << name;
    }

    // Shorter than the header, even with the magic: not an archive.
    oxtest::writeFile(dir.file("tiny.tq7bank"), header(1, 25).substr(0, 24));
    // An index offset past the end of the file; lower-case magic; the right magic, zero entries.
    oxtest::writeFile(dir.file("far.tq7bank"), header(5, 0x7fffffffu));
    oxtest::writeFile(dir.file("lower.jux"),
                      header(1, 25, 0, 0, "oxarchive") + record(0, 9, "Samples.xml"));
    oxtest::writeFile(dir.file("zero.jux"), header(0, 25) + record(0, 9, "Samples.xml"));
    for (const char* name :
         {"tiny.tq7bank", "far.tq7bank", "missing.tq7bank", "lower.jux", "zero.jux"}) {
        SoundFontV7 empty(dir.file(name));
        EXPECT_NO_THROW(empty.initialize()) << name;
        EXPECT_FALSE(empty.sampleXML()) << name;
        EXPECT_FALSE(empty.audioStream("x.wav")) << name;
    }
}

TEST(ArchiveBank, FixedNamesPlayWithoutLoop) {
    oxtest::TempDir dir;
    const oxtest::Tone tone{.frames = 4410, .loopStart = 100, .loopEnd = 4000};
    const std::string looped = oxtest::encodeTone(oxtest::AudioFormat::OggVorbis, tone);
    const std::string stem = "HillsideGrand9-Key-Sus-none-";
    const std::pair<std::string, bool> names[] = {
        {stem + "03-none-081-none.ogg", false}, {stem + "05-none-093-none.ogg", false},
        {stem + "07-none-108-none.ogg", false}, {stem + "06-none-093-none.ogg", true},
        {stem + "05-none-092-none.ogg", true},  {stem + "05-none-111-none.ogg", true},
        {stem + "02-none-081-none.ogg", true}};
    std::vector<oxsf::archive::ArchiveInput> inputs;
    for (const auto& [name, loops] : names) {
        inputs.push_back(oxsf::archive::ArchiveInput::fromBytes(name, looped));
    }
    oxsf::archive::writeArchive(dir.file("loops.tq7bank"), inputs);

    SoundFontV7 bank(dir.file("loops.tq7bank"));
    for (const auto& [name, loops] : names) {
        auto audio = bank.audioStream(name);
        ASSERT_TRUE(audio) << name;
        EXPECT_EQ(audio->looping(), loops) << name;
    }
    // The rule belongs to archive banks: a directory bank keeps the loop.
    oxtest::writeFile(dir.file("dir/Samples.xml"), "<Bank/>");
    oxtest::writeFile(dir.file("dir/Samples/" + names[1].first), looped);
    EXPECT_TRUE(SoundFontV6(dir.file("dir")).audioStream(names[1].first)->looping());
}

TEST(ArchiveBank, LargeIndexWithLongNamesAndDuplicates) {
    // Thousands of records, a name longer than any read window, and duplicates
    // of early names late in the index: every name is found, the first wins.
    oxtest::TempDir dir;
    const std::string data = "abcdefghij";
    std::string index;
    std::vector<std::string> names;
    for (int i = 0; i < 5000; ++i) {
        names.push_back("entry-" + std::to_string(i) + std::string(size_t(i % 40), 'x') + ".flac");
        index += record(25 + i % 10, 1, names.back());
    }
    names.push_back(std::string(200000, 'L'));
    index += record(25 + 3, 4, names.back());
    for (int i = 0; i < 5000; i += 7) {
        index += record(25, 10, names[size_t(i)]);
    }
    const uint32_t count = uint32_t(names.size() + (5000 + 6) / 7);
    oxtest::writeFile(dir.file("big.jux"), header(count, 35) + data + index);

    SoundFontV7 bank(dir.file("big.jux"));
    for (size_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(readRest(bank.sample(names[i])), data.substr(i % 10, 1)) << names[i];
    }
    EXPECT_EQ(readRest(bank.sample(names.back())), "defg");
    EXPECT_EQ(readRest(bank.sample("entry-1")), "<none>");
    EXPECT_EQ(readRest(bank.sample(names[0] + "x")), "<none>");
}
