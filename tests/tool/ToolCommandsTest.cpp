// What a user of oxsf sees: one-line errors with the right exit codes, archives
// that round-trip, JSON that parses, and renders of the expected length.

#include "ToolRunner.h"

#include "support/TestSupport.h"

#include "write/ArchiveWriter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using oxsf::archive::ArchiveInput;
using namespace oxtest;

namespace {

const char* kDescription = R"(<?xml version="1.0"?>
<Bank id="tool-test" type="guitar" name="Tool Test" tuning="64 59 55 50 45 40">
  <SamplesTree>
    <Node class="pick"><Node class="sustain"><Node class="down"><Samples>
      <Sample midi="48" string="6" dynamic="F"><Wave file="a.wav"/></Sample>
      <Sample midi="60" string="6" dynamic="F"><Wave file="sub/b.flac"/></Sample>
    </Samples></Node></Node></Node>
  </SamplesTree>
</Bank>
)";

/// A two-sample directory bank, one of its files in a sub-folder of Samples/.
/// The tones loop, so a note sounds for as long as it is held.
std::string writeBank(const TempDir& dir) {
    const std::string bank = dir.file("Bank");
    writeFile(bank + "/Samples.xml", kDescription);
    fs::create_directories(bank + "/Samples/sub");
    // A loop, then a recorded tail that released notes play into.
    Tone tone{.frames = 44100, .frequency = 130.8, .loopStart = 441, .loopEnd = 4410};
    EXPECT_TRUE(writeTone(bank + "/Samples/a.wav", AudioFormat::Wav16, tone));
    tone.frequency = 261.6;
    EXPECT_TRUE(writeTone(bank + "/Samples/sub/b.flac", AudioFormat::Flac16, tone));
    return bank;
}

/// Runs oxsf with `args`, expects success, and parses what it prints.
nlohmann::json runJson(const std::vector<std::string>& args) {
    const ToolResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return nlohmann::json::parse(result.out);
}

} // namespace

TEST(ToolErrors, FailuresAreOneLineNamingTheFileAndExit1) {
    TempDir dir;
    const std::string bank = writeBank(dir);
    const std::string missing = dir.file("NoSuchBank");

    const std::string malformed = dir.file("Malformed");
    writeFile(malformed + "/Samples.xml", "<Bank id=\"x\">\n<SamplesTree>\n<Node class=\"pick\"\n"
                                          "</Bank>\n");
    const std::string badTuning = dir.file("BadTuning");
    writeFile(badTuning + "/Samples.xml", "<Bank id=\"x\" tuning=\"64 x\"><SamplesTree/></Bank>");
    const std::string garbage = dir.file("garbage.tq7bank");
    writeFile(garbage, "this is not an archive at all");
    const std::string noDescription = dir.file("nodescription.tq7bank");
    oxsf::archive::writeArchive(noDescription, {ArchiveInput::fromBytes("a.wav", "RIFF")});
    const std::string notMidi = dir.file("song.mid");
    writeFile(notMidi, "MThx not a midi file");

    const std::string nowhere = dir.file("no/such/folder/x.wav");
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> failures = {
        {{"info", missing}, {missing, "no such file"}},
        {{"find", missing, "--midi", "60"}, {missing, "no such file"}},
        {{"info", malformed}, {malformed, "malformed Samples.xml", "line 4"}},
        {{"play", badTuning, "C4", "-o", dir.file("x.wav")}, {badTuning, "tuning"}},
        {{"info", garbage}, {garbage, "OXARCHIVE"}},
        {{"ls", garbage}, {garbage, "OXARCHIVE"}},
        {{"info", noDescription}, {noDescription, "no Samples.xml"}},
        {{"info", dir.path().string()}, {dir.path().string(), "no Samples.xml"}},
        {{"render", bank, notMidi, "-o", dir.file("x.wav")}, {notMidi, "not a Standard MIDI File"}},
        {{"play", bank, "C4", "-o", nowhere}, {nowhere, "no folder"}}};
    for (const auto& [args, fragments] : failures) {
        expectOneLineError(runTool(args), 1, fragments);
    }
    EXPECT_FALSE(fs::exists(nowhere));

    // An entry name that climbs out of the target folder is refused, and nothing lands outside.
    const std::string hostile = dir.file("hostile.tq7bank");
    oxsf::archive::writeArchive(hostile, {ArchiveInput::fromBytes("Samples.xml", kDescription),
                                          ArchiveInput::fromBytes("../escaped.wav", "RIFF")});
    expectOneLineError(runTool({"unpack", hostile, dir.file("Out")}), 1, {hostile, "refusing"});
    EXPECT_FALSE(fs::exists(dir.file("escaped.wav")));
}

TEST(ToolErrors, BadUsageExits2AndHelpExits0) {
    TempDir dir;
    const std::string bank = writeBank(dir);
    const std::vector<std::vector<std::string>> usages = {
        {},
        {"frobnicate"},
        {"info"},
        {"info", bank, "--no-such-flag"},
        {"find", bank},
        {"find", bank, "--midi", "H9"},
        {"find", bank, "--midi", "60", "--attack", "strum"},
        {"find", bank, "--midi", "60", "--dynamic", "loud"},
        {"play", bank, "C4@soon", "-o", dir.file("x.wav")},
        {"play", bank, "C4@0:1/128", "-o", dir.file("x.wav")},
        {"play", bank, "C4"},
        {"play", bank, "C4", "-o", dir.file("x.wav"), "--quality", "best"},
        {"pack", bank, dir.file("out.zip")},
    };
    for (const auto& args : usages) {
        const ToolResult result = runTool(args);
        SCOPED_TRACE(args.empty() ? "(no arguments)" : args[0] + " ... : " + result.err);
        expectOneLineError(result, 2, {});
    }
    EXPECT_FALSE(fs::exists(dir.file("out.zip")));

    for (const char* command :
         {"info", "find", "play", "render", "pack", "unpack", "ls", "demo", "check"}) {
        const ToolResult result = runTool({command, "--help"});
        EXPECT_EQ(result.exitCode, 0) << command;
        EXPECT_NE(result.out.find("Usage:"), std::string::npos) << command;
    }
}

TEST(ToolArchive, PackThenUnpackGivesBackTheSameFiles) {
    TempDir dir;
    const std::string bank = writeBank(dir);
    const std::string archive = dir.file("Bank.tq7bank");
    ASSERT_EQ(runTool({"pack", bank, archive}).exitCode, 0);

    const ToolResult unpacked = runTool({"unpack", archive, dir.file("Copy")});
    ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err;
    for (const char* file : {"Samples.xml", "Samples/a.wav", "Samples/sub/b.flac"}) {
        EXPECT_EQ(readFile(dir.file(std::string("Copy/") + file)), readFile(bank + "/" + file))
            << file;
    }
    int copied = 0;
    for (const auto& item : fs::recursive_directory_iterator(dir.file("Copy"))) {
        copied += item.is_regular_file();
    }
    EXPECT_EQ(copied, 3);

    // The listing matches the files, and the archive opens as the same bank.
    const auto entries = runJson({"ls", archive, "--json"}).at("entries");
    ASSERT_EQ(entries.size(), 3u);
    for (const auto& entry : entries) {
        const std::string name = entry.at("name");
        const std::string source =
            name == "Samples.xml" ? bank + "/" + name : bank + "/Samples/" + name;
        EXPECT_EQ(entry.at("size").get<uint64_t>(), fs::file_size(source)) << name;
        EXPECT_LE(entry.at("offset").get<uint64_t>() + entry.at("size").get<uint64_t>(),
                  fs::file_size(archive));
    }
    const auto j = runJson({"info", archive, "--json"});
    EXPECT_EQ(j.at("id"), "tool-test");
    EXPECT_EQ(j.at("packaging"), "archive");
    EXPECT_TRUE(j.at("files").at("missing").empty());

    // Unpacking over an existing bank needs --force.
    EXPECT_EQ(runTool({"unpack", archive, dir.file("Copy")}).exitCode, 1);
    EXPECT_EQ(runTool({"unpack", archive, dir.file("Copy"), "--force"}).exitCode, 0);
}

TEST(ToolJson, InfoAndFindPrintJsonThatParses) {
    TempDir dir;
    const std::string bank = writeBank(dir);

    const auto j = runJson({"info", bank, "--json"});
    EXPECT_EQ(j.at("kind"), "pitched");
    EXPECT_EQ(j.at("tuning"), nlohmann::json({64, 59, 55, 50, 45, 40}));
    EXPECT_EQ(j.at("samples").at("tree"), 2);
    const auto& pick = j.at("tree").at("children").at(0);
    EXPECT_EQ(pick.at("name"), "pick");
    EXPECT_EQ(pick.at("children").at(0).at("children").at(0).at("samples").size(), 2u);

    const auto found = runJson({"find", bank, "--midi", "B3", "--json"});
    EXPECT_EQ(found.at("file"), "sub/b.flac");
    EXPECT_EQ(found.at("sample").at("midi"), 60);
    EXPECT_EQ(found.at("transposition"), -1);
    EXPECT_EQ(found.at("climbed"), false);

    // pick/sustain/up holds nothing: the search climbs to pick/sustain/down and says so.
    const auto c =
        runJson({"find", bank, "--midi", "50", "--attack", "pick", "--variation", "up", "--json"});
    EXPECT_EQ(c.at("addressed"), nlohmann::json({"pick/sustain/up"}));
    EXPECT_EQ(c.at("answeredBy"), "pick/sustain/down");
    EXPECT_EQ(c.at("climbed"), true);
    EXPECT_EQ(c.at("sample").at("midi"), 48);
}

TEST(ToolRender, PlayAndRenderFollowNoteTimesAndTheTempoMap) {
    TempDir dir;
    const std::string bank = writeBank(dir);

    // Two notes, the second starting at 1 s and lasting 0.5 s, then an 80 ms release.
    const std::string played = dir.file("played.wav");
    ASSERT_EQ(
        runTool({"play", bank, "C4/20", "E4@1:0.5/110", "-o", played, "-q", "--quality", "high"})
            .exitCode,
        0);
    const SoundFile sound = readSound(played);
    EXPECT_EQ(sound.channels, 2);
    EXPECT_NEAR(static_cast<double>(sound.frames) / 44100.0, 1.58, 0.01);

    // 480 ticks per beat: two beats at 120 bpm, a tempo change to 60 bpm, one more beat.
    // A beat (480 ticks) is "\x83\x60" as a variable-length delta; the track is 45 bytes.
    const std::string track("\x00\xFF\x51\x03\x07\xA1\x20"
                            "\x00\x90\x3C\x64\x83\x60\x80\x3C\x00"
                            "\x00\x90\x40\x50\x83\x60\x90\x40\x00"
                            "\x00\xFF\x51\x03\x0F\x42\x40"
                            "\x00\x90\x30\x6E\x83\x60\x80\x30\x00"
                            "\x00\xFF\x2F\x00",
                            45);
    writeFile(dir.file("song.mid"),
              std::string("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xE0MTrk\x00\x00\x00\x2D", 22) +
                  track);

    const std::string rendered = dir.file("rendered.wav");
    const ToolResult result = runTool({"render", bank, dir.file("song.mid"), "-o", rendered});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("3 notes rendered"), std::string::npos) << result.out;
    EXPECT_NEAR(static_cast<double>(readSound(rendered).frames) / 44100.0, 2.08, 0.01);
}
