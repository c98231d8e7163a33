#include "support/TestSupport.h"

#include <soundfont/SoundFont.h>

#include <gtest/gtest.h>

#include <string>

using ox::soundfont::SoundFontV6;
using namespace oxtest;

namespace {

const char* kDescription = R"(<Bank id="player-test" name="Player" type="guitar" tuning="64 59 55 50 45 40">
  <SamplesTree>
    <Node class="pick"><Node class="sustain"><Node class="down"><Samples>
      <Sample midi="57" string="1" dynamic="F">
        <Wave file="a57-neck.wav" pickup="neck"/>
        <Wave file="a57-bridge.wav" pickup="Bridge"/>
      </Sample>
      <Sample midi="64" string="1" dynamic="F"><Wave file="e64.wav"/></Sample>
    </Samples></Node></Node></Node>
  </SamplesTree>
</Bank>)";

void writeBank(const TempDir& dir) {
    writeFile(dir.file("Samples.xml"), kDescription);
    Tone tone;
    for (const char* name : {"a57-neck.wav", "a57-bridge.wav", "e64.wav"}) {
        tone.frames += 100; // tell the files apart by length
        ASSERT_TRUE(writeTone(dir.file(std::string("Samples/") + name), AudioFormat::Wav16, tone));
    }
}

} // namespace

TEST(SamplePlayer, PlaysTheNearestSampleWithItsTransposition) {
    TempDir dir;
    writeBank(dir);
    SoundFontV6 bank(dir.path().string());
    bank.initialize();

    auto [below, up] = bank.samplePlayer(60);
    EXPECT_EQ(up, 3);
    ASSERT_TRUE(below.stream());
    // Two pickups: "Bridge" sorts before "neck" byte by byte.
    EXPECT_EQ(below.stream()->frameCount(), 541);

    auto [above, down] = bank.samplePlayer(63);
    EXPECT_EQ(down, -1);
    ASSERT_TRUE(above.stream());
    EXPECT_EQ(above.stream()->frameCount(), 741);

    auto again = bank.samplePlayer(59);
    EXPECT_EQ(again.second, 2);
    EXPECT_EQ(again.first.stream(), below.stream()) << "one stream per file, from the cache";
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
