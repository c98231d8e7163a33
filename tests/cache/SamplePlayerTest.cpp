#include "audio/AudioTestUtil.h"
#include "support/TestSupport.h"

#include <soundfont/SampleCoordinate.h>
#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>

#include <write/ArchiveWriter.h>

#include <gtest/gtest.h>

#include <cmath>
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
             at = description.find("file=\"", at + 1)) {
            description.insert(at + 6, kind + "-");
        }
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

TEST(SamplePlayer, VelocityChoosesTheLayerAndTheGainAndTheBankTunesAndShapesTheNote) {
    // A soft and a loud layer of C4, and an A4 tone filed twice: untuned at C3, and at C5
    // with a repitch of +100 cents (-100 in a bank whose id ends in "+").
    for (const std::string id : {"expressive", "expressive+"}) {
        SCOPED_TRACE(id);
        MemoryBank bank(R"(<Bank id=")" + id + R"(" type="guitar"><SamplesTree>
          <Node class="pick"><Node class="sustain"><Node class="down"><Samples>
            <Sample midi="60" dynamic="P">
              <Wave file=")" +
                        id + R"(-soft.wav" ampAttack="0.01" ampSustain="-6"/></Sample>
            <Sample midi="60" dynamic="FF"><Wave file=")" +
                        id + R"(-loud.wav"/></Sample>
            <Sample midi="48" dynamic="F"><Wave file=")" +
                        id + R"(-plain.wav"/></Sample>
            <Sample midi="72" dynamic="F">
              <Wave file=")" +
                        id + R"(-tuned.wav" repitch=")" + (id.back() == '+' ? "-" : "") +
                        R"(100"/></Sample>
          </Samples></Node></Node></Node></SamplesTree></Bank>)");
        const Tone tone{.frames = 44100, .frequency = 440};
        for (const char* name : {"-loud.wav", "-plain.wav", "-tuned.wav"}) {
            bank.addSample(id + name, encodeTone(AudioFormat::Wav16, tone));
        }
        bank.addSample(id + "-soft.wav", encodeTone(AudioFormat::Wav16, Tone{.frames = 1000}));
        bank.initialize();

        // Velocity 20 is "PPP", nearer the soft layer; 120 is "FFF".
        const ox::soundfont::VelocityPlayer soft = bank.samplePlayerForVelocity(60, 20);
        const ox::soundfont::VelocityPlayer loud = bank.samplePlayerForVelocity(60, 120);
        EXPECT_STREQ(ox::soundfont::dynamicName(soft.dynamic), "PPP");
        EXPECT_STREQ(ox::soundfont::dynamicName(loud.dynamic), "FFF");
        EXPECT_EQ(soft.player.stream()->frameCount(), 1000);
        EXPECT_EQ(loud.player.stream()->frameCount(), 44100);
        EXPECT_EQ(soft.player.gain(), ox::soundfont::gainFromVelocity(20));
        EXPECT_EQ(loud.player.gain(), ox::soundfont::gainFromVelocity(120));
        // The soft wave's envelope: what it gives, 0 s and 0 dB for the rest.
        ASSERT_TRUE(soft.player.envelope());
        EXPECT_EQ(soft.player.envelope()->attack, 0.01f);
        EXPECT_NEAR(soft.player.envelope()->sustain, 0.501, 1e-3);
        EXPECT_EQ(soft.player.envelope()->delay + soft.player.envelope()->hold +
                      soft.player.envelope()->decay + soft.player.envelope()->release,
                  0.0f);
        EXPECT_FALSE(loud.player.envelope());

        // Both asked for at their recorded pitch: the repitched one sounds a semitone higher.
        auto [plain, plainShift] = bank.samplePlayer(48, 10);
        auto [tuned, tunedShift] = bank.samplePlayer(72, 10);
        EXPECT_EQ(plainShift, 0.0);
        EXPECT_NEAR(tunedShift, 1.0, 1e-6);
        EXPECT_NEAR(measuredFrequency(play(plain, 22050, 1), 1, 44100), 440.0, 3.0);
        EXPECT_NEAR(measuredFrequency(play(tuned, 22050, 1), 1, 44100),
                    440.0 * std::pow(2, 1 / 12.0), 3.0);
        // The pitch-only call keeps its whole transposition.
        EXPECT_EQ(bank.samplePlayer(72).second, 0);
    }
}
