#include "support/TestSupport.h"

#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>

#include <archive/ArchiveWriter.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace oxtest;

namespace {

const char* kDescription =
    R"(<Bank id="player-test" name="Player" type="guitar" tuning="64 59 55 50 45 40">
  <SamplesTree>
    <Node class="pick"><Node class="sustain"><Node class="down"><Samples>
      <Sample midi="57" string="6" dynamic="F">
        <Wave file="a57-neck.wav" pickup="neck"/>
        <Wave file="a57-bridge.wav" pickup="Bridge"/>
      </Sample>
      <Sample midi="64" string="6" dynamic="F"><Wave file="e64.wav"/></Sample>
    </Samples></Node></Node></Node>
  </SamplesTree>
</Bank>)";

} // namespace

TEST(SamplePlayer, DirectoryAndArchiveBanksPlayTheNearestSampleWithItsTransposition) {
    for (const std::string kind : {"directory", "archive"}) {
        SCOPED_TRACE(kind);
        // Every bank has its own file names: the process-wide cache keys by name alone.
        TempDir dir;
        std::string description = kDescription;
        for (size_t at = description.find("file=\""); at != std::string::npos;
             at = description.find("file=\"", at + 1))
            description.insert(at + 6, kind + "-");
        writeFile(dir.file("Samples.xml"), description);
        Tone tone;
        for (const char* name : {"a57-neck.wav", "a57-bridge.wav", "e64.wav"}) {
            tone.frames += 100; // tell the files apart by length
            ASSERT_TRUE(
                writeTone(dir.file("Samples/" + kind + "-" + name), AudioFormat::Wav16, tone));
        }
        std::string path = dir.path().string();
        if (kind == "archive") {
            path = dir.file("packed.tq7bank");
            oxsf::archive::packDirectoryBank(dir.path().string(), path);
        }
        ox::soundfont::SoundFontManager manager;
        auto bank = manager.addDirectory(path);
        ASSERT_TRUE(bank);

        auto [below, up] = bank->samplePlayer(60);
        EXPECT_EQ(up, 3);
        ASSERT_TRUE(below.stream());
        // Two pickups: "Bridge" (641 frames) sorts before "neck" byte by byte.
        EXPECT_EQ(below.stream()->frameCount(), 641);

        auto [above, down] = bank->samplePlayer(63);
        EXPECT_EQ(down, -1);
        ASSERT_TRUE(above.stream());
        EXPECT_EQ(above.stream()->frameCount(), 741);
        std::vector<float> block(2 * 256);
        EXPECT_EQ(above.render(block.data(), 256, 2), 256);

        auto again = bank->samplePlayer(59);
        EXPECT_EQ(again.second, 2);
        EXPECT_EQ(again.first.stream(), below.stream()) << "one stream per file, from the cache";
    }
}

TEST(SamplePlayer, AnEmptyBankGivesASilentPlayer) {
    MemoryBank bank("", false);
    bank.initialize();
    auto [player, transposition] = bank.samplePlayer(60);
    EXPECT_EQ(transposition, 0);
    ASSERT_TRUE(player.stream());
    EXPECT_TRUE(player.stream()->empty());
    float out[64];
    EXPECT_EQ(player.render(out, 32, 2), 0);
    EXPECT_TRUE(player.finished());
}
