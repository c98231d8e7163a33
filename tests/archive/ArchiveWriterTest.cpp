#include "write/ArchiveWriter.h"
#include "ArchiveTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace archivetest;
using oxsf::archive::ArchiveInput;
namespace fs = std::filesystem;

namespace {

// Runs `pack`, expects a runtime_error mentioning `mention`, and checks that
// the folder holds exactly `expected` files afterwards (no temp files left).
template <typename F>
void expectRefused(F pack, const std::string& mention, const fs::path& folder, size_t expected) {
    try {
        pack();
        ADD_FAILURE() << "not refused";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(mention), std::string::npos) << error.what();
    }
    size_t count = 0;
    for (const auto& item : fs::directory_iterator(folder)) {
        count += item.is_regular_file();
    }
    EXPECT_EQ(count, expected);
}

} // namespace

TEST(ArchiveWriter, LayoutAndIndexRoundTrip) {
    oxtest::TempDir dir;
    oxtest::writeFile(dir.file("src.bin"), "from a file");
    const std::string path = dir.file("t.jux");
    oxsf::archive::writeArchive(path, {ArchiveInput::fromBytes("Samples.xml", "<Bank/>"),
                                       ArchiveInput::fromFile("f.wav", dir.file("src.bin")),
                                       ArchiveInput::fromBytes("empty", "")});
    const std::string bytes = oxtest::readFile(path);
    const uint32_t indexAt = 25 + 7 + 11;
    EXPECT_EQ(bytes.substr(0, 25), header(3, indexAt));
    EXPECT_EQ(bytes.substr(indexAt),
              record(25, 7, "Samples.xml") + record(32, 11, "f.wav") + record(43, 0, "empty"));

    const auto records = oxsf::archive::readArchiveIndex(path);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].name, "f.wav");
    EXPECT_EQ(records[1].offset, 32);
    EXPECT_EQ(records[1].size, 11u);

    ox::soundfont::SoundFontV7 bank(path);
    EXPECT_EQ(oxtest::readRest(bank.sample("f.wav")), "from a file");
    EXPECT_EQ(oxtest::readRest(bank.sample("empty")), "");

    // The reader of the index refuses what is not a complete archive.
    oxtest::writeFile(dir.file("cut.jux"), bytes.substr(0, bytes.size() - 2));
    EXPECT_THROW(oxsf::archive::readArchiveIndex(dir.file("cut.jux")), std::runtime_error);
    EXPECT_THROW(oxsf::archive::readArchiveIndex(dir.file("src.bin")), std::runtime_error);
    EXPECT_THROW(oxsf::archive::readArchiveIndex(dir.file("none.jux")), std::runtime_error);
}

TEST(ArchiveWriter, PacksSortedAndDeterministically) {
    oxtest::TempDir dir;
    oxtest::writeFile(dir.file("bank/Samples.xml"), "<Bank/>");
    for (const char* name : {"c.ogg", "a.wav", "B.flac"}) {
        oxtest::writeFile(dir.file(std::string("bank/Samples/") + name), name);
    }
    oxsf::archive::packDirectoryBank(dir.file("bank"), dir.file("one.tq7bank"));
    oxsf::archive::packDirectoryBank(dir.file("bank"), dir.file("two.tq7bank"));
    EXPECT_EQ(oxtest::readFile(dir.file("one.tq7bank")), oxtest::readFile(dir.file("two.tq7bank")));
    std::vector<std::string> names;
    for (const auto& record : oxsf::archive::readArchiveIndex(dir.file("one.tq7bank"))) {
        names.push_back(record.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Samples.xml", "B.flac", "a.wav", "c.ogg"}));
}

TEST(ArchiveWriter, RefusesAndLeavesNothingBehind) {
    oxtest::TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    const std::string target = (out / "bank.tq7bank").string();
    auto writeWith = [&](const ArchiveInput& bad) {
        return [&, bad] {
            oxsf::archive::writeArchive(target,
                                        {ArchiveInput::fromBytes("Samples.xml", "<Bank/>"), bad});
        };
    };
    const std::pair<ArchiveInput, std::string> rows[] = {
        {ArchiveInput::fromBytes("", "x"), target},
        {ArchiveInput::fromBytes(std::string("a\0b.wav", 7), "x"), "NUL"},
        {ArchiveInput::fromFile("gone.wav", dir.file("gone.wav")), dir.file("gone.wav")}};
    for (const auto& [bad, mention] : rows) {
        expectRefused(writeWith(bad), mention, out, 0);
    }
    expectRefused([&] { oxsf::archive::packDirectoryBank(dir.file("nobank"), target); },
                  "Samples.xml", out, 0);

    // Over the 2^31-byte limit (a sparse file costs no disk); an older archive
    // under the target name survives the failed pack untouched.
    oxtest::writeFile(target, "old archive");
    const auto big = ArchiveInput::fromFile("big.wav", dir.file("big.wav"));
    oxtest::writeFile(big.path, "");
    fs::resize_file(big.path, uintmax_t(1) << 31);
    expectRefused(writeWith(big), big.path, out, 1);
    fs::resize_file(big.path, (uintmax_t(1) << 31) - 30);
    expectRefused(writeWith(big), target, out, 1);
    EXPECT_EQ(oxtest::readFile(target), "old archive");
}
