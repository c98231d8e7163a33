// oxsf check and the coverage map: every kind of fault planted in generated
// banks is found and named, nothing else is, and the exit code follows the
// worst finding. (A clean bank passing is the demo's test.)

#include "ToolRunner.h"

#include "support/TestSupport.h"

#include "write/ArchiveWriter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

using namespace oxtest;
using oxsf::archive::ArchiveInput;

namespace {

std::string sample(int midi, const std::string& waves, const std::string& dynamic = "F") {
    return "<Sample midi=\"" + std::to_string(midi) + "\" dynamic=\"" + dynamic + "\">" + waves +
           "</Sample>\n";
}

std::string wave(const std::string& file, const std::string& attributes = "") {
    return "<Wave file=\"" + file + "\" " + attributes + "/>";
}

std::string pickSustainDown(const std::string& samples, const std::string& more = "") {
    return "<Bank id=\"b\"><SamplesTree><Node class=\"pick\"><Node class=\"sustain\">"
           "<Node class=\"down\"><Samples>\n" +
           samples + "</Samples></Node></Node>" + more + "</Node></SamplesTree></Bank>\n";
}

const Tone kTone{.frames = 4410};

struct Banks {
    std::string faults, other, kit, broken, unfiled;
};

/// One pitched bank with one fault of each kind a bank check can find in a
/// single bank; a second bank sharing one of its file names; a kit whose snare
/// has no loud layer; a bank whose description breaks on line 3; one whose only
/// layer is misspelt.
Banks plant(const TempDir& dir) {
    Banks banks{dir.file("Faults"), dir.file("Other"), dir.file("Kit.tq7bank"), dir.file("Broken"),
                dir.file("Unfiled")};
    const std::string samples = banks.faults + "/Samples/";
    writeFile(banks.faults + "/Samples.xml",
              pickSustainDown(sample(60, wave("a.wav")) + sample(60, wave("dup.wav")) +
                                  sample(61, wave("missing.wav")) + sample(62, wave("fifo.wav")) +
                                  sample(63, wave("text.flac")) + sample(64, wave("cut.flac")) +
                                  sample(65, wave("loop.wav")) + sample(66, wave("rate.wav")) +
                                  sample(67, wave("loud.wav", "peak=\"0.9\" gain=\"6\"")) +
                                  sample(80, wave("loud.wav")),
                              "<Node class=\"sustian\"><Samples>" + sample(50, wave("a.wav")) +
                                  sample(51, "") + "</Samples></Node>"));
    for (const char* file : {"a.wav", "dup.wav"}) {
        EXPECT_TRUE(writeTone(samples + file, AudioFormat::Wav16, kTone));
    }
    EXPECT_EQ(mkfifo((samples + "fifo.wav").c_str(), 0600), 0);
    writeFile(samples + "text.flac", "not audio at all");
    const std::string whole = encodeTone(AudioFormat::Flac16, Tone{.frames = 100000});
    writeFile(samples + "cut.flac", whole.substr(0, whole.size() / 2));
    EXPECT_TRUE(writeTone(samples + "loop.wav", AudioFormat::Wav16,
                          Tone{.frames = 4410, .loopStart = 100, .loopEnd = 8000}));
    EXPECT_TRUE(writeTone(samples + "rate.wav", AudioFormat::Wav16,
                          Tone{.sampleRate = 22050, .frames = 4410}));
    EXPECT_TRUE(writeTone(samples + "loud.wav", AudioFormat::Wav16,
                          Tone{.frames = 4410, .amplitude = 0.9}));

    writeFile(banks.other + "/Samples.xml", pickSustainDown(sample(60, wave("a.wav"))));
    EXPECT_TRUE(writeTone(banks.other + "/Samples/a.wav", AudioFormat::Wav16, kTone));

    const std::string tone = encodeTone(AudioFormat::Wav16, kTone);
    const std::string kit =
        "<Bank id=\"kit\" type=\"drum\"><SamplesTree><Node class=\"stick\"><Node class=\"hit\">"
        "<Node class=\"hit\"><Samples>" +
        sample(36, wave("kick-F.wav")) + sample(36, wave("kick-P.wav"), "P") +
        sample(37, wave("side-F.wav")) + sample(37, wave("side-P.wav"), "P") +
        sample(38, wave("snare-P.wav"), "P") +
        "</Samples></Node></Node></Node></SamplesTree></Bank>";
    std::vector<ArchiveInput> entries{ArchiveInput::fromBytes("Samples.xml", kit)};
    for (const char* file :
         {"kick-F.wav", "kick-P.wav", "side-F.wav", "side-P.wav", "snare-P.wav"}) {
        entries.push_back(ArchiveInput::fromBytes(file, tone));
    }
    oxsf::archive::writeArchive(banks.kit, entries);

    writeFile(banks.broken + "/Samples.xml",
              "<Bank id=\"x\">\n<SamplesTree>\n  <Node class=pick/>\n</SamplesTree></Bank>\n");
    writeFile(banks.unfiled + "/Samples.xml",
              "<Bank id=\"u\"><SamplesTree><Node class=\"plectrum\"><Samples>" +
                  sample(60, wave("u.wav")) + "</Samples></Node></SamplesTree></Bank>");
    EXPECT_TRUE(writeTone(banks.unfiled + "/Samples/u.wav", AudioFormat::Wav16, kTone));
    return banks;
}

/// "severity check subject" of every finding of the bank at `index`.
std::multiset<std::string> findings(const nlohmann::json& report, size_t index) {
    std::multiset<std::string> found;
    for (const auto& f : report.at("banks").at(index).at("findings")) {
        found.insert(f.at("severity").get<std::string>() + " " + f.at("check").get<std::string>() +
                     " " + f.at("subject").get<std::string>());
    }
    return found;
}

const nlohmann::json& findingOf(const nlohmann::json& report, size_t index,
                                const std::string& check) {
    for (const auto& f : report.at("banks").at(index).at("findings")) {
        if (f.at("check") == check) {
            return f;
        }
    }
    static const nlohmann::json none;
    return none;
}

} // namespace

TEST(Check, FindsEveryPlantedFaultAndNothingElse) {
    TempDir dir;
    const Banks banks = plant(dir);
    const ToolResult result = runTool({"check", banks.faults, banks.other, banks.kit, banks.broken,
                                       banks.unfiled, "--decode", "--json"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "oxsf: error: the check found errors in 3 banks\n");
    const nlohmann::json report = nlohmann::json::parse(result.out);

    EXPECT_EQ(findings(report, 0),
              (std::multiset<std::string>{
                  "error empty-sample Sample midi=\"51\" dynamic=\"F\" in pick/sustian",
                  "warning unfiled-samples Node class=\"sustian\" in pick",
                  "error missing-file Samples/missing.wav",
                  "error unreadable-file Samples/fifo.wav",
                  "error undecodable-file Samples/text.flac",
                  "error truncated-file Samples/cut.flac",
                  "warning loop Samples/loop.wav",
                  "warning over-full-scale Samples/loud.wav",
                  "warning conflicting-gains Samples/loud.wav",
                  "warning sample-rate 1 file at 22050 Hz",
                  "warning unreachable-sample Sample midi 60 dynamic F in pick/sustain/down "
                  "(dup.wav)",
                  "warning coverage notes A#4-F5 (70-77)",
                  "warning shared-file a.wav",
              }));
    EXPECT_EQ(findings(report, 1), (std::multiset<std::string>{"warning shared-file a.wav"}));
    EXPECT_EQ(findings(report, 2),
              (std::multiset<std::string>{"warning coverage piece at note 38 (snare-P)"}));
    EXPECT_EQ(findings(report, 3), (std::multiset<std::string>{"error parse Samples.xml"}));
    EXPECT_EQ(findings(report, 4),
              (std::multiset<std::string>{"warning unfiled-samples Node class=\"plectrum\" in "
                                          "SamplesTree",
                                          "error no-samples SamplesTree"}));

    // What each says: where the description broke, how far the notes are transposed
    // and from which file, which dynamics of the snare another piece plays.
    const auto& parse = findingOf(report, 3, "parse");
    EXPECT_EQ(std::pair(parse.at("line").get<int>(), parse.at("column").get<int>()),
              std::pair(3, 15));
    const auto& notes = findingOf(report, 0, "coverage");
    EXPECT_EQ(notes.at("transposition"), nlohmann::json({-6, 6}));
    EXPECT_EQ(notes.at("files"), nlohmann::json({"loud.wav"}));
    EXPECT_EQ(notes.at("dynamics").size(), 17u);
    const auto& snare = findingOf(report, 2, "coverage");
    EXPECT_EQ(snare.at("dynamics").front(), "MF");
    EXPECT_EQ(snare.at("dynamics").back(), "FFFFFFF");
    EXPECT_EQ(snare.at("playedBy"), nlohmann::json({"note 37 (side-F)"}));
    EXPECT_EQ(findingOf(report, 0, "truncated-file").at("announced"), 100000);
    EXPECT_EQ(findingOf(report, 0, "unreachable-sample").at("winner"), "a.wav");

    // Text: one line per finding naming its bank and subject, then a tally per bank.
    const ToolResult text = runTool({"check", banks.faults, banks.kit});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_NE(text.out.find(banks.faults + ": error: Samples/missing.wav: missing"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find(banks.faults + ": 4 errors, 7 warnings\n"), std::string::npos);
    EXPECT_NE(text.out.find(banks.kit + ": 0 errors, 1 warning\n"), std::string::npos);
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 14);
}

TEST(Check, ExitCodesAndTheMap) {
    TempDir dir;
    const Banks banks = plant(dir);
    // Warnings alone pass unless --strict; a bad command line exits 2.
    EXPECT_EQ(runTool({"check", banks.kit}).exitCode, 0);
    const ToolResult strict = runTool({"check", banks.kit, "--strict"});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_EQ(strict.err, "oxsf: error: " + banks.kit + ": the check found errors or warnings\n");
    EXPECT_EQ(runTool({"check", banks.other, "--max-transpose", "x"}).exitCode, 2);
    EXPECT_EQ(runTool({"check"}).exitCode, 2);
    // Six semitones is the most any note of the faulty bank is transposed.
    const ToolResult wide = runTool({"check", banks.faults, "--max-transpose", "6", "--json"});
    EXPECT_TRUE(findingOf(nlohmann::json::parse(wide.out), 0, "coverage").is_null());

    // The map names the kit's pieces and tells what plays every stretch of notes.
    const std::string map = dir.file("kit.svg");
    ASSERT_EQ(runTool({"info", banks.kit, "--map", map}).exitCode, 0);
    const std::string svg = readFile(map);
    EXPECT_EQ(svg.rfind("<svg ", 0), 0u);
    EXPECT_NE(svg.find(">38 snare-P</text>"), std::string::npos);
    // At FF the side stick plays its own note, the snare's and some above.
    EXPECT_NE(svg.find("<title>C#2 to E3 at FF: side-F.wav, recorded at C#2, transposed +0 to "
                       "+15</title>"),
              std::string::npos);
    EXPECT_EQ(runTool({"info", banks.kit, "--map", dir.file("no/folder/kit.svg")}).exitCode, 1);
}

TEST(Check, UnreachableSamplesFollowTheSearch) {
    // A later sample at the same pitch, dynamic and fret never wins; another fret
    // does; finger requests search index, thumb, middle and keep the first of a
    // tie; a kit's brush requests climb to brush/hit/hit whatever they ask for.
    TempDir dir;
    const std::string guitar = dir.file("Guitar"), kit = dir.file("Kit");
    auto stringed = [](int midi, int string) {
        return "<Sample midi=\"" + std::to_string(midi) + "\" string=\"" + std::to_string(string) +
               "\" dynamic=\"F\"><Wave file=\"" + std::to_string(midi) + "-" +
               std::to_string(string) + ".wav\"/></Sample>";
    };
    writeFile(guitar + "/Samples.xml",
              "<Bank tuning=\"64 59 55 50 45 40\"><SamplesTree><Node class=\"pick\">"
              "<Node class=\"sustain\"><Node class=\"down\"><Samples>" +
                  stringed(60, 6) + stringed(60, 5) + stringed(60, 6) +
                  sample(60, wave("free.wav")) +
                  "</Samples></Node></Node></Node><Node class=\"finger\"><Node class=\"sustain\">"
                  "<Node class=\"index\"><Samples>" +
                  stringed(50, 4) + "</Samples></Node><Node class=\"thumb\"><Samples>" +
                  stringed(50, 4) + stringed(52, 4) +
                  "</Samples></Node></Node></Node>"
                  "</SamplesTree></Bank>");
    writeFile(kit + "/Samples.xml",
              "<Bank type=\"drum\"><SamplesTree><Node class=\"brush\"><Node class=\"hit\">"
              "<Node class=\"hit\"><Samples>" +
                  sample(38, wave("hit.wav")) + "</Samples></Node><Node class=\"mute\"><Samples>" +
                  sample(38, wave("mute.wav")) +
                  "</Samples></Node></Node></Node>"
                  "</SamplesTree></Bank>");
    std::vector<std::string> unreachable;
    const nlohmann::json report =
        nlohmann::json::parse(runTool({"check", guitar, kit, "--json"}).out);
    for (const auto& bank : report.at("banks")) {
        for (const auto& f : bank.at("findings")) {
            if (f.at("check") == "unreachable-sample") {
                unreachable.push_back(f.at("subject").get<std::string>() + ": " +
                                      f.at("message").get<std::string>());
            }
        }
    }
    EXPECT_EQ(unreachable,
              (std::vector<std::string>{
                  "Sample midi 60 dynamic F in pick/sustain/down (60-6.wav): never found: Sample "
                  "midi 60 dynamic F in pick/sustain/down (60-6.wav) at the same coordinate comes "
                  "first",
                  "Sample midi 60 dynamic F in pick/sustain/down (free.wav): never found: Sample "
                  "midi 60 dynamic F in pick/sustain/down (60-6.wav) at the same coordinate comes "
                  "first",
                  "Sample midi 50 dynamic F in finger/sustain/thumb (50-4.wav): never found: "
                  "Sample midi 50 dynamic F in finger/sustain/index (50-4.wav) at the same "
                  "coordinate comes first",
                  "Sample midi 38 dynamic F in brush/hit/mute (mute.wav): never found: a search "
                  "for brush/hit/mute answers from brush/hit/hit",
              }));
}

TEST(Check, VoiceAttributesTriggersAndLayerFiles) {
    TempDir dir;
    const std::string bank = dir.file("Voiced");
    for (const char* name : {"a.wav", "b.wav"}) {
        ASSERT_TRUE(writeTone(bank + "/Samples/" + name, AudioFormat::Wav16, kTone));
    }
    writeFile(bank + "/Samples.xml",
              pickSustainDown(
                  "<Sample midi=\"60\" dynamic=\"F\" velLo=\"0\" velHi=\"200\" chokeGroup=\"-1\">" +
                  wave("a.wav", "pan=\"-0.5\" cutoff=\"1200\" resonance=\"6\"") +
                  "<Layer file=\"b.wav\" gain=\"-6\" pan=\"3\"/>"
                  "<Layer file=\"gone.wav\" velLo=\"90\" velHi=\"20\"/></Sample>\n" +
                  sample(62, wave("a.wav", "cutoff=\"5\" resonance=\"120\" modSustain=\"2\" "
                                           "vibLfoFreq=\"-1\" modAttack=\"-1\"")) +
                  sample(64, wave("b.wav", "cutoff=\"19900\" pan=\"1\" vibLfoFreq=\"6\"")) +
                  "<Sample midi=\"66\" dynamic=\"F\" seqLength=\"3\" seqPosition=\"4\" "
                  "randLo=\"0.8\" randHi=\"0.2\">" +
                  wave("b.wav", "") + "</Sample>"));
    const ToolResult result = runTool({"check", bank, "--json"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const nlohmann::json report = nlohmann::json::parse(result.out);
    // A layer's file is looked for like a Wave's; its own gain is no conflict.
    const std::string first = "Sample midi=\"60\" dynamic=\"F\" in pick/sustain/down";
    const std::string second = "Sample midi=\"62\" dynamic=\"F\" in pick/sustain/down";
    EXPECT_EQ(findings(report, 0), (std::multiset<std::string>{
                                       "error missing-file Samples/gone.wav",
                                       "warning trigger " + first,
                                       "warning trigger " + first + ", its Layer \"gone.wav\"",
                                       "warning voice " + first,
                                       "warning voice " + second,
                                       "warning trigger Sample midi=\"66\" dynamic=\"F\" in "
                                       "pick/sustain/down",
                                   }))
        << result.out;
    for (const auto& f : report.at("banks").at(0).at("findings")) {
        if (f.at("check") == "voice" && f.at("subject") == second) {
            EXPECT_EQ(f.at("problems").size(), 5u) << f.dump();
        }
        if (f.at("check") == "trigger" && f.at("subject") == first) {
            EXPECT_EQ(f.at("message"), "velocities 0 to 200 reach outside 1 to 127, chokeGroup -1 "
                                       "is negative: it is in no group");
        }
        if (f.at("check") == "trigger" &&
            f.at("subject").get<std::string>().find("66") != std::string::npos) {
            EXPECT_EQ(f.at("message"), "seqPosition 4 lies outside 1 to 3: no strike plays it, "
                                       "random draws 0.8 to 0.2 hold no draw from 0 to 1");
        }
    }
}
