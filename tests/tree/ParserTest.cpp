#include "TreeTestSupport.h"
#include "support/TestSupport.h"

#include <soundfont/SoundBankParser.h>

#include <gtest/gtest.h>

#include <vector>

using namespace treetest;

namespace {

std::unique_ptr<SampleTree> parseBank(const std::string& xml) {
    oxtest::MemoryBank bank(xml);
    bank.initialize();
    SoundBankParser parser;
    parser.parse(bank);
    return std::unique_ptr<SampleTree>(parser.takeSampleTree());
}

using Ids = std::vector<int>;

} // namespace

TEST(SoundBankParser, BankTypeChoosesTheBuilderAndTheTreeIsTakenOnce) {
    // Drum types are unpitched, everything else pitched; names are case-sensitive.
    const char* types[] = {"snare", "unpitched", "hiHat", "pitched", "", "Snare", "guitar"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(parseBank(bankXml(std::string("type=\"") + types[i] + "\"", ""))->name(),
                  i < 3 ? "unpitched" : "pitched")
            << types[i];
    }
    SoundBankParser parser;
    EXPECT_TRUE(parser.builder("pitched") && parser.builder("unpitched"));
    EXPECT_EQ(parser.builder("Pitched"), nullptr);
    EXPECT_EQ(parser.takeSampleTree(), nullptr);

    oxtest::MemoryBank bank(bankXml("type=\"snare\"", ""));
    bank.initialize();
    parser.parse(bank);
    parser.parse(bank); // the first tree is replaced and freed
    std::unique_ptr<SampleTree> tree(parser.takeSampleTree());
    EXPECT_NE(tree, nullptr);
    EXPECT_EQ(parser.takeSampleTree(), nullptr);
    EXPECT_EQ(&bank.sampleTree(), &bank.sampleTree()); // built once
}

TEST(SoundBankParser, WalksLayersAndFilesSamples) {
    const std::string layers = R"(
<Samples><Sample midi="10"><Wave file="top.ogg"/></Sample></Samples>
<Node class="sustain"><Node class="down"><Samples>
  <Sample midi="20"><Wave file="lost.ogg"/></Sample></Samples></Node></Node>
<Node class="pick">
  <Node class="sustain">
    <Node class="down"><Samples>
      <Sample midi="40" string="1" dynamic="mF" option="fast">
        <Wave file="a-neck.ogg" pickup="neck" repitch="50" ratio="1.5"/>
        <Wave file="a-bridge.ogg" pickup="bridge" repitch="-20" ratio="0.5"/>
      </Sample>
      <Sample midi="41" string="0" dynamic="ff"><Wave file="b1.ogg"/><Wave file="b2.ogg"/></Sample>
      <Sample midi="42" dynamic="none"/>
      <Sample midi="43" string="3" dynamic=""/>
      <Sample midi="44" dynamic="loud"/>
    </Samples>
      <Node class="down"><Samples><Sample midi="99"/></Samples></Node>
    </Node>
    <Node class="vibrato"><Samples><Sample midi="50"/></Samples></Node>
    <Samples><Sample midi="45"/></Samples>
  </Node>
</Node>)";
    auto tree = parseBank(bankXml("type=\"guitar\"", layers));
    // Samples above the technique level, lost layers and unknown classes are dropped.
    EXPECT_EQ(tree->sampleCount(), 6);
    EXPECT_EQ(tree->root()->child(0, 0)->sampleCount(), 1u);
    const auto& down = tree->root()->child(0, 0, 0)->samples();
    ASSERT_EQ(down.size(), 5u);
    // Strings count from 1 (0 is none); unknown dynamics are 0; option "fast" is 3.
    const Ids expected[] = {{0, 0, 0, 0, 40, 9, 3, -1},
                            {0, 0, 0, -1, 41, 11, 0, -1},
                            {0, 0, 0, -1, 42, 0, 0, -1},
                            {0, 0, 0, 2, 43, 0, 0, -1},
                            {0, 0, 0, -1, 44, 0, 0, -1}};
    for (size_t i = 0; i < down.size(); ++i) {
        EXPECT_EQ(fields(*down[i]), expected[i]) << i;
    }

    // Files by pickup; the last wave's corrections remain.
    EXPECT_EQ(down[0]->files, (std::map<std::string, std::string>{{"neck", "a-neck.ogg"},
                                                                  {"bridge", "a-bridge.ogg"}}));
    EXPECT_EQ(down[1]->files, (std::map<std::string, std::string>{{"", "b2.ogg"}}));
    float value = 0.0f;
    ASSERT_TRUE(down[0]->tryGetCorrection(ox::audio::SoundCorrection::Repitch, value));
    EXPECT_FLOAT_EQ(value, -0.2f);
    ASSERT_TRUE(down[0]->tryGetCorrection(ox::audio::SoundCorrection::Ratio, value));
    EXPECT_FLOAT_EQ(value, 0.5f);
    EXPECT_FALSE(down[2]->tryGetCorrection(ox::audio::SoundCorrection::Ratio, value));
}

TEST(SoundBankParser, RepitchesNaturalHarmonicsFromTheTuning) {
    const std::string layers = R"(
<Node class="harmonic"><Node class="natural">
  <Node class="7th"><Samples>
    <Sample midi="66" string="2" dynamic="ff"><Wave file="h7.ogg"/></Sample>
    <Sample midi="66" string="2" dynamic="ff"/>
    <Sample midi="66" string="9" dynamic="ff"><Wave file="h7-far.ogg"/></Sample>
  </Samples></Node>
  <Node class="4:5"><Samples>
    <Sample midi="70" string="2" dynamic="ff"><Wave file="h45.ogg"/></Sample>
  </Samples></Node>
</Node></Node>
<Node class="pick"><Node class="sustain"><Node class="down"><Samples>
  <Sample midi="62" string="2" dynamic="ff"><Wave file="p.ogg"/></Sample>
  <Sample midi="62" dynamic="ff"><Wave file="p.ogg"/></Sample>
</Samples></Node></Node></Node>)";
    auto tree = parseBank(bankXml("tuning=\"64 59 55 50 45 40\"", layers));
    // Fret, pitch and dynamic: a harmonic with files sounds at its partial, at dynamic 7;
    // without files only the fret is set; beyond the tuning there is no open-string pitch.
    auto played = [](const SampleTreeNodeSample* s) { return Ids{(*s)[4], (*s)[1], (*s)[2]}; };
    const auto& seventh = tree->root()->child(2, 2, 6)->samples();
    ASSERT_EQ(seventh.size(), 3u);
    EXPECT_EQ(played(seventh[0].get()), (Ids{7, 78, 7}));
    EXPECT_EQ(played(seventh[1].get()), (Ids{7, 66, 11}));
    EXPECT_EQ(played(seventh[2].get()), (Ids{-1, 66, 7}));
    EXPECT_EQ(played(tree->root()->child(2, 2, 9)->samples()[0].get()), (Ids{11, 70, 7}));
    const auto& pick = tree->root()->child(0, 0, 0)->samples();
    EXPECT_EQ(played(pick[0].get()), (Ids{3, 62, 11}));
    EXPECT_EQ((*pick[1])[4], -1);

    // Without tuning nothing is re-pitched.
    auto untuned = parseBank(bankXml("", layers));
    EXPECT_EQ(played(untuned->root()->child(2, 2, 6)->samples()[0].get()), (Ids{-1, 66, 7}));
}

TEST(SoundBankParser, BankAnswersMidiRequests) {
    const std::string layers = R"(
<Node class="pick"><Node class="sustain"><Node class="down"><Samples>
  <Sample midi="40" string="6" dynamic="f"><Wave file="e2.flac"/></Sample>
  <Sample midi="45" string="5" dynamic="f"><Wave file="a2.flac"/></Sample>
  <Sample midi="52" string="6" dynamic="f"><Wave file="e3-low.flac"/></Sample>
  <Sample midi="52" string="4" dynamic="f"><Wave file="e3-mid.flac"/></Sample>
</Samples></Node></Node></Node>
<Node class="finger"><Node class="sustain"><Node class="thumb"><Samples>
  <Sample midi="47" string="5" dynamic="p"><Wave file="thumb.flac"/></Sample>
</Samples></Node></Node></Node>)";
    oxtest::MemoryBank bank(bankXml("type=\"guitar\" tuning=\"64 59 55 50 45 40\"", layers));
    bank.initialize();
    const SampleTree& tree = bank.sampleTree();
    EXPECT_EQ(tree.sampleCount(), 5);

    auto fileOf = [](const SampleTreeNodeSample* s) { return s ? s->files.begin()->second : ""; };
    // Requests lie on a string whose open pitch is 40, so that string is preferred.
    EXPECT_EQ(fileOf(tree.findSampleByMidi(41, 10)), "e2.flac");
    EXPECT_EQ(fileOf(tree.findSampleByMidi(46, 10)), "e2.flac"); // tie with e3-low: earlier wins
    EXPECT_EQ(fileOf(tree.findSampleByMidi(50, 10)), "e3-low.flac");
    EXPECT_EQ(fileOf(tree.findSampleByMidi(52, 10)), "e3-low.flac");
    EXPECT_EQ(fileOf(tree.findSample(request(1, 0, 0, 47, 7))), "thumb.flac");
}
