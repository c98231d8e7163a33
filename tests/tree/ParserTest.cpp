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

std::vector<SampleTreeNodeSample*> allSamples(const SampleTree& tree) {
    std::vector<SampleTreeNodeSample*> out;
    tree.getSamples(out);
    return out;
}

} // namespace

TEST(SoundBankParser, BankTypeChoosesTheBuilder) {
    for (const char* type : {"snare", "unpitched", "hiHat"}) {
        EXPECT_EQ(parseBank(bankXml(std::string("type=\"") + type + "\"", ""))->name(), "unpitched")
            << type;
    }
    for (const char* type : {"pitched", "", "Snare", "guitar"}) {
        EXPECT_EQ(parseBank(bankXml(std::string("type=\"") + type + "\"", ""))->name(), "pitched")
            << type;
    }
    SoundBankParser parser;
    EXPECT_NE(parser.builder("pitched"), nullptr);
    EXPECT_NE(parser.builder("unpitched"), nullptr);
    EXPECT_EQ(parser.builder("Pitched"), nullptr);
    EXPECT_EQ(parser.takeSampleTree(), nullptr);
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
      <Sample midi="41" string="0" dynamic="ff">
        <Wave file="b1.ogg"/><Wave file="b2.ogg"/>
      </Sample>
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
    const auto samples = allSamples(*tree);
    ASSERT_EQ(samples.size(), 6u); // pick/sustain's own, then the five under down
    const SampleTreeNode* down = tree->root()->child(0, 0, 0);
    ASSERT_EQ(down->sampleCount(), 5u);
    EXPECT_EQ(tree->root()->child(0, 0)->sampleCount(), 1u);

    const auto& a = *down->samples()[0];
    EXPECT_EQ((std::vector<int>{a.attack(), a.technique(), a.variation(), a[0], a[1], a[2], a[3]}),
              (std::vector<int>{0, 0, 0, 0, 40, 9, 3}));
    EXPECT_EQ(a.files, (std::map<std::string, std::string>{{"neck", "a-neck.ogg"},
                                                           {"bridge", "a-bridge.ogg"}}));
    float value = 0.0f;
    ASSERT_TRUE(a.tryGetCorrection(ox::audio::SoundCorrection::Repitch, value));
    EXPECT_FLOAT_EQ(value, -0.2f); // the last wave's corrections remain
    ASSERT_TRUE(a.tryGetCorrection(ox::audio::SoundCorrection::Ratio, value));
    EXPECT_FLOAT_EQ(value, 0.5f);

    const auto& b = *down->samples()[1];
    EXPECT_EQ(b[0], -1);
    EXPECT_EQ(b[2], 11);
    EXPECT_EQ(b.files, (std::map<std::string, std::string>{{"", "b2.ogg"}}));
    const auto& c = *down->samples()[2];
    EXPECT_EQ(c[2], 0);
    EXPECT_EQ(c[0], -1);
    EXPECT_FALSE(c.tryGetCorrection(ox::audio::SoundCorrection::Ratio, value));
    EXPECT_EQ(down->samples()[3]->operator[](0), 2);
    EXPECT_EQ(down->samples()[3]->operator[](2), 0);
    EXPECT_EQ(down->samples()[4]->operator[](2), 0);
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
    const SampleTreeNode* root = tree->root();
    const auto& seventh = root->child(2, 2, 6)->samples();
    ASSERT_EQ(seventh.size(), 3u);
    EXPECT_EQ((std::vector<int>{(*seventh[0])[4], (*seventh[0])[1], (*seventh[0])[2]}),
              (std::vector<int>{7, 78, 7}));
    EXPECT_EQ((std::vector<int>{(*seventh[1])[4], (*seventh[1])[1], (*seventh[1])[2]}),
              (std::vector<int>{7, 66, 11})); // no files: only the fret
    // A string beyond the tuning has no open-string pitch: pitch and fret as
    // filed, but a harmonic with files still plays at dynamic 7.
    EXPECT_EQ((std::vector<int>{(*seventh[2])[4], (*seventh[2])[1], (*seventh[2])[2]}),
              (std::vector<int>{-1, 66, 7}));
    const auto& fourFive = *root->child(2, 2, 9)->samples()[0];
    EXPECT_EQ((std::vector<int>{fourFive[4], fourFive[1], fourFive[2]}),
              (std::vector<int>{11, 70, 7}));
    const auto& pick = root->child(0, 0, 0)->samples();
    EXPECT_EQ((std::vector<int>{(*pick[0])[4], (*pick[0])[1], (*pick[0])[2]}),
              (std::vector<int>{3, 62, 11}));
    EXPECT_EQ((*pick[1])[4], -1);

    // Without tuning nothing is re-pitched.
    auto untuned = parseBank(bankXml("", layers));
    const auto& h = *untuned->root()->child(2, 2, 6)->samples()[0];
    EXPECT_EQ((std::vector<int>{h[4], h[1], h[2]}), (std::vector<int>{-1, 66, 7}));
}

TEST(SoundBankParser, TakesTheTreeOnceAndBanksBuildTheirsOnce) {
    oxtest::MemoryBank bank(bankXml("type=\"snare\"", ""));
    bank.initialize();
    SoundBankParser parser;
    parser.parse(bank);
    parser.parse(bank); // the first tree is replaced and freed
    std::unique_ptr<SampleTree> tree(parser.takeSampleTree());
    EXPECT_NE(tree, nullptr);
    EXPECT_EQ(parser.takeSampleTree(), nullptr);

    SampleTree& first = bank.sampleTree();
    EXPECT_EQ(&first, &bank.sampleTree());
    EXPECT_EQ(first.sampleCount(), 0);
    EXPECT_EQ(first.name(), "unpitched");
}

TEST(SoundBankParser, DirectoryBankAnswersMidiRequests) {
    oxtest::TempDir dir;
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
    oxtest::writeFile(
        dir.file("Samples.xml"),
        bankXml("id=\"test-guitar\" type=\"guitar\" tuning=\"64 59 55 50 45 40\"", layers));
    ox::soundfont::SoundFontV6 bank(dir.path().string());
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
