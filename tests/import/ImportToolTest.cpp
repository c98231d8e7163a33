// oxsf import as a user meets it: one clear error line and nothing left behind
// for sources it cannot read, archives and JSON when asked.

#include "ToolRunner.h"

#include "support/TestSupport.h"

#include <demo/SoundFontWriter.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace fs = std::filesystem;
using namespace oxtest;

TEST(ImportTool, UnreadableSourcesFailOnOneLineAndLeaveNoBank) {
    TempDir dir;
    oxsf::demo::Sf2Font demo = oxsf::demo::demoSoundFont(2);
    const std::string font = oxsf::demo::sf2Bytes(demo);
    writeFile(dir.file("cut.sf2"), font.substr(0, font.size() / 2));
    demo.instruments[0].zones[1].generators.push_back({203, 0}); // libinstpatch would crash
    writeFile(dir.file("generator.sf2"), oxsf::demo::sf2Bytes(demo));
    writeFile(dir.file("garbage.sf2"), "RIFF\x10\0\0\0sfbkLIST");
    writeFile(dir.file("kit/drumkit.xml"), "<drumkit_info><name>Kit</name><instrumentList>");
    writeFile(dir.file("missing.sfz"), "<region> sample=nowhere.wav\n");
    writeFile(dir.file("bad/drumkit.xml"),
              "<drumkit_info><instrumentList><instrument><name>Kick</name><layer>"
              "<filename>noise.wav</filename></layer></instrument></instrumentList>"
              "</drumkit_info>");
    writeFile(dir.file("bad/noise.wav"), "RIFF, but no sound in it");
    writeFile(dir.file("gone/drumkit.xml"),
              "<drumkit_info><instrumentList><instrument><name>Kick</name><layer>"
              "<filename>gone.wav</filename></layer></instrument></instrumentList>"
              "</drumkit_info>");
    struct Case {
        const char* source;
        const char* named;
        const char* problem;
    };
    for (const Case& c : {Case{"cut.sf2", "cut.sf2", "not a soundfont"},
                          Case{"garbage.sf2", "garbage.sf2", "not a soundfont"},
                          Case{"generator.sf2", "generator.sf2", "generator 203"},
                          Case{"kit", "drumkit.xml", "not well-formed XML"},
                          Case{"missing.sfz", "nowhere.wav", "no such sample file"},
                          Case{"bad", "noise.wav", "not a sound file"},
                          Case{"gone", "gone.wav", "no such sample file"}}) {
        const std::string out = dir.file(std::string("out-") + c.source);
        const ToolResult result = runTool({"import", dir.file(c.source), out});
        expectOneLineError(result, 1, {c.named, c.problem});
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)); // no bank, no temporary folder
    }
    EXPECT_EQ(runTool({"import", dir.file("cut.sf2"), dir.file("o"), "--preset", "0"}).exitCode, 2);
}

TEST(ImportTool, ArchiveBanksOpenAndJsonListsWhatWasWritten) {
    TempDir dir;
    writeFile(dir.file("demo.sf2"), oxsf::demo::sf2Bytes(oxsf::demo::demoSoundFont(2)));
    const ToolResult result = runTool({"import", dir.file("demo.sf2"), dir.file("out"), "--archive",
                                       "--json", "--preset", "128:0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto banks = nlohmann::json::parse(result.out);
    ASSERT_EQ(banks.size(), 1u);
    EXPECT_EQ(banks[0]["path"], "128-000-Demo-Kit.tq7bank");
    // 15 pieces, each at the softest and loudest dynamic of the snare's two
    // layers; the toms share a file, and the two kick pieces and the two closed
    // hi-hats, at levels of their own, a file each (a file decodes at one level).
    EXPECT_EQ(banks[0]["samples"], 60);
    EXPECT_EQ(banks[0]["files"], 10);
    const ToolResult info = runTool({"info", dir.file("out/128-000-Demo-Kit.tq7bank"), "--json"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
}
