// Velocity ranges, layers and choke groups of a bank: what a request by
// velocity finds, what a request by dynamic keeps finding, and what a reader
// that knows no layers makes of a layered bank.

#include "audio/AudioTestUtil.h"
#include "support/TestSupport.h"

#include <soundfont/SampleCoordinate.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

using namespace oxtest;
using ox::soundfont::SampleTreeNodeSample;
using ox::soundfont::VelocityPlayer;

namespace {

std::string bankXml(const std::string& id, const std::string& samples) {
    return R"(<Bank id=")" + id + R"(" type="piano"><SamplesTree><Node class="pick">
        <Node class="sustain"><Node class="down"><Samples>)" +
           samples + "</Samples></Node></Node></Node></SamplesTree></Bank>";
}

/// The same description without what a reader that knows no layers skips:
/// Layer elements and the trigger attributes.
std::string withoutLayers(std::string xml) {
    xml = std::regex_replace(xml, std::regex(R"(<Layer [^>]*/>)"), "");
    return std::regex_replace(xml, std::regex(R"( (velLo|velHi|chokeGroup)="[^"]*")"), "");
}

/// A bank whose files are tones told apart by their lengths in frames.
void addTones(MemoryBank& bank, const std::vector<std::pair<std::string, int64_t>>& files) {
    for (const auto& [name, frames] : files) {
        bank.addSample(name, encodeTone(AudioFormat::Wav16, Tone{.frames = frames}));
    }
}

const std::string& fileOf(const SampleTreeNodeSample* sample) {
    static const std::string none = "(none)";
    return sample && !sample->files.empty() ? sample->files.begin()->second : none;
}

std::string treeAnswers(const ox::soundfont::SoundFont& bank) {
    std::string answers;
    for (int midi = 0; midi < 128; ++midi) {
        for (int dynamic = 0; dynamic < ox::soundfont::kDynamicCount; ++dynamic) {
            const SampleTreeNodeSample* s = bank.sampleTree().findSampleByMidi(midi, dynamic);
            answers += fileOf(s);
            if (s) {
                for (int i = 0; i < 5; ++i) {
                    answers += "," + std::to_string((*s)[i]);
                }
            }
            answers += ";";
        }
    }
    return answers;
}

const char* kSplits = R"(
    <Sample midi="60" dynamic="PP" velLo="1" velHi="40"><Wave file="split-soft.wav"/></Sample>
    <Sample midi="60" dynamic="P" velLo="41" velHi="41"><Wave file="split-one.wav"/></Sample>
    <Sample midi="60" dynamic="F" velLo="42" velHi="127"><Wave file="split-loud.wav"/></Sample>
    <Sample midi="72" dynamic="MF"><Wave file="split-high.wav"/></Sample>)";

} // namespace

TEST(VelocityRanges, SplitsFinerThanTheDynamicsAnswerEveryVelocityExactly) {
    MemoryBank bank(bankXml("splits", kSplits));
    addTones(bank, {{"split-soft.wav", 100},
                    {"split-one.wav", 200},
                    {"split-loud.wav", 300},
                    {"split-high.wav", 400}});
    bank.initialize();
    MemoryBank plain(withoutLayers(bankXml("splits", kSplits)));
    plain.initialize();

    const auto& tree = bank.sampleTree();
    for (int velocity = 1; velocity <= 127; ++velocity) {
        SCOPED_TRACE(velocity);
        const char* expected = velocity <= 40   ? "split-soft.wav"
                               : velocity == 41 ? "split-one.wav"
                                                : "split-loud.wav";
        EXPECT_EQ(fileOf(tree.findSampleForVelocity(60, velocity)), expected);
        // A neighbouring pitch honours the ranges too; the unranged sample answers any velocity.
        EXPECT_EQ(fileOf(tree.findSampleForVelocity(61, velocity)), expected);
        EXPECT_EQ(fileOf(tree.findSampleForVelocity(72, velocity)), "split-high.wav");

        const VelocityPlayer note = bank.samplePlayerForVelocity(60, velocity);
        EXPECT_EQ(note.sample, tree.findSampleForVelocity(60, velocity));
        EXPECT_EQ(note.player.gain(), ox::soundfont::gainFromVelocity(velocity));
        EXPECT_EQ(note.dynamic, ox::soundfont::dynamicFromVelocity(velocity));
        EXPECT_EQ(note.transposition, 0.0);
        const int64_t frames = velocity <= 40 ? 100 : velocity == 41 ? 200 : 300;
        EXPECT_EQ(note.player.stream()->frameCount(), frames);
    }
    // Rounded to the dynamics, 42 to 56 would be "P" and play the sample of 41 alone.
    EXPECT_EQ(fileOf(tree.findSampleByMidi(60, ox::soundfont::dynamicFromVelocity(50))),
              "split-one.wav");
    // Above 127 counts as 127; velocity 0 is no velocity of a range: the nearest by dynamic.
    EXPECT_EQ(fileOf(tree.findSampleForVelocity(60, 1000)), "split-loud.wav");
    EXPECT_EQ(fileOf(tree.findSampleForVelocity(60, 0)), fileOf(tree.findSampleByMidi(60, 0)));

    // Requests by dynamic and by pitch alone answer as if there were no ranges.
    EXPECT_EQ(treeAnswers(bank), treeAnswers(plain));
    for (int midi = 40; midi < 90; ++midi) {
        EXPECT_EQ(bank.samplePlayer(midi).second, plain.samplePlayer(midi).second);
        EXPECT_EQ(bank.samplePlayer(midi, 7).second, plain.samplePlayer(midi, 7).second);
        // Without ranges a request by velocity is the request by its dynamic.
        for (int velocity : {1, 30, 41, 64, 100, 127}) {
            EXPECT_EQ(plain.sampleTree().findSampleForVelocity(midi, velocity),
                      plain.sampleTree().findSampleByMidi(
                          midi, ox::soundfont::dynamicFromVelocity(velocity)));
        }
    }
}

namespace {

const char* kLayered = R"(
    <Sample midi="60" dynamic="F" chokeGroup="3">
      <Wave file="layer-string.wav" ampRelease="0.5"/>
      <Layer file="layer-hammer.wav" gain="-6" repitch="50" ampAttack="0.002" ampRelease="0.05"
             velLo="100"/>
      <Layer file="layer-pad.wav" gain="-12" chokeGroup="5" loopRelease="1"/>
    </Sample>
    <Sample midi="72" dynamic="F"><Wave file="layer-plain.wav"/>
      <Layer file="layer-missing.wav"/><Layer velHi="0"/></Sample>)";

} // namespace

TEST(Layers, ALayeredNoteSoundsEveryLayerWithItsOwnGainEnvelopeAndGroup) {
    MemoryBank bank(bankXml("layered", kLayered));
    addTones(bank, {{"layer-string.wav", 1000},
                    {"layer-hammer.wav", 2000},
                    {"layer-pad.wav", 3000},
                    {"layer-plain.wav", 4000}});
    bank.initialize();

    // The description keeps each layer as a Wave with its trigger.
    const auto& sample = bank.layer().layers[0].layers[0].layers[0].samples[0];
    ASSERT_EQ(sample.layers.size(), 2u);
    EXPECT_EQ(sample.trigger.chokeGroup, 3);
    EXPECT_EQ(sample.layers[0].wave.file, "layer-hammer.wav");
    EXPECT_NEAR(sample.layers[0].wave.gain, 0.501, 1e-3);
    EXPECT_EQ(sample.layers[0].trigger.velLo, 100);
    EXPECT_EQ(sample.layers[0].trigger.velHi, 127);
    ASSERT_TRUE(sample.layers[0].wave.envelope);
    EXPECT_EQ(sample.layers[0].wave.envelope->release, 0.05f);
    EXPECT_EQ(sample.layers[1].trigger.chokeGroup, 5);

    // Struck at 90 the hammer stays out; at 110 it sounds.
    const std::vector<VelocityPlayer> soft = bank.samplePlayersForVelocity(62, 90);
    const std::vector<VelocityPlayer> loud = bank.samplePlayersForVelocity(62, 110);
    ASSERT_EQ(soft.size(), 2u);
    ASSERT_EQ(loud.size(), 3u);
    const float g = ox::soundfont::gainFromVelocity(110);
    const VelocityPlayer& string = loud[0];
    const VelocityPlayer& hammer = loud[1];
    const VelocityPlayer& pad = loud[2];
    EXPECT_EQ(string.player.stream()->frameCount(), 1000);
    EXPECT_EQ(hammer.player.stream()->frameCount(), 2000);
    EXPECT_EQ(pad.player.stream()->frameCount(), 3000);
    EXPECT_EQ(soft[1].player.stream(), pad.player.stream());
    EXPECT_EQ(string.player.gain(), g);
    EXPECT_FLOAT_EQ(hammer.player.gain(), g * std::pow(10.0f, -6.0f / 20.0f));
    EXPECT_FLOAT_EQ(pad.player.gain(), g * std::pow(10.0f, -12.0f / 20.0f));
    // The pad alone loops on through its release.
    EXPECT_TRUE(pad.player.loopsThroughRelease());
    EXPECT_FALSE(string.player.loopsThroughRelease() || hammer.player.loopsThroughRelease());
    // Transposed as their sample, each with its own repitch and envelope.
    EXPECT_EQ(string.transposition, 2.0);
    EXPECT_NEAR(hammer.transposition, 2.5, 1e-6);
    EXPECT_EQ(pad.transposition, 2.0);
    EXPECT_NEAR(hammer.player.transposition(), 2.5, 1e-6);
    ASSERT_TRUE(string.player.envelope() && hammer.player.envelope());
    EXPECT_EQ(string.player.envelope()->release, 0.5f);
    EXPECT_EQ(hammer.player.envelope()->attack, 0.002f);
    EXPECT_FALSE(pad.player.envelope());
    // A layer without a group of its own is in its sample's.
    EXPECT_EQ(string.chokeGroup, 3);
    EXPECT_EQ(hammer.chokeGroup, 3);
    EXPECT_EQ(pad.chokeGroup, 5);
    EXPECT_EQ(string.sample, bank.sampleTree().findSampleForVelocity(62, 110));
    EXPECT_EQ(hammer.sample, &string.sample->layers[0]);
    // The single-player call plays the sample alone, as before.
    EXPECT_EQ(bank.samplePlayerForVelocity(62, 110).player.stream(), string.player.stream());

    // By dynamic: the layers that answer the dynamic's nominal velocity, at their own gain.
    const std::vector<VelocityPlayer> forte = bank.samplePlayers(60, 10); // "F", velocity 96
    ASSERT_EQ(forte.size(), 2u);
    EXPECT_EQ(forte[0].player.stream(), string.player.stream());
    EXPECT_EQ(forte[0].player.gain(), 1.0f);
    EXPECT_EQ(forte[0].transposition, bank.samplePlayer(60, 10).second);
    EXPECT_FLOAT_EQ(forte[1].player.gain(), std::pow(10.0f, -12.0f / 20.0f));
    EXPECT_EQ(bank.samplePlayers(60, 12).size(), 3u); // "FFF", velocity 127

    // A layer whose file is missing plays silence; one whose range answers nothing never plays.
    const std::vector<VelocityPlayer> plain = bank.samplePlayersForVelocity(72, 64);
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0].player.stream()->frameCount(), 4000);
    EXPECT_TRUE(!plain[1].player.stream() || plain[1].player.stream()->empty());
    EXPECT_EQ(plain[0].chokeGroup, 0);

    // From an audio thread: nothing until every file of the note is cached, then the same.
    std::vector<VelocityPlayer> tried;
    tried.reserve(8);
    MemoryBank fresh(bankXml("layered-fresh", R"(<Sample midi="60" dynamic="F">
        <Wave file="fresh-main.wav"/><Layer file="fresh-layer.wav"/></Sample>)"));
    addTones(fresh, {{"fresh-main.wav", 10}, {"fresh-layer.wav", 20}});
    fresh.initialize();
    EXPECT_FALSE(fresh.trySamplePlayersForVelocity(60, 64, tried));
    EXPECT_TRUE(tried.empty());
    const auto loaded = fresh.samplePlayersForVelocity(60, 64);
    ASSERT_TRUE(fresh.trySamplePlayersForVelocity(60, 64, tried));
    ASSERT_EQ(tried.size(), 2u);
    EXPECT_EQ(tried[1].player.stream(), loaded[1].player.stream());
    EXPECT_EQ(tried[1].player.gain(), loaded[1].player.gain());
}

TEST(Layers, AReaderThatKnowsNoLayersReadsALayeredBankAsTheBankWithoutThem) {
    // The layered bank and the same text stripped of layers and triggers: the
    // records, the tree and every search by pitch and dynamic are the same.
    for (const std::string id : {"parity", "parity+"}) {
        SCOPED_TRACE(id);
        const std::string xml = bankXml(id, std::string(kLayered) + kSplits);
        MemoryBank layered(xml), plain(withoutLayers(xml));
        layered.initialize();
        plain.initialize();
        ASSERT_NE(xml, withoutLayers(xml));
        EXPECT_EQ(outline(layered.layer()), outline(plain.layer()));
        EXPECT_EQ(treeAnswers(layered), treeAnswers(plain));
        EXPECT_EQ(layered.sampleTree().sampleCount(), plain.sampleTree().sampleCount());
        // A layer's file is no Wave's: the decoder gives it the bank's gain alone.
        EXPECT_EQ(layered.layer().findWav("layer-hammer.wav"), nullptr);
        EXPECT_NE(layered.layer().findWav("layer-string.wav"), nullptr);
        // Layers are no samples of the tree.
        std::vector<SampleTreeNodeSample*> samples;
        layered.sampleTree().getSamples(samples);
        for (const SampleTreeNodeSample* s : samples) {
            EXPECT_EQ(fileOf(s).rfind("layer-hammer", 0), std::string::npos);
        }
        // The layer's repitch follows the bank's sign rule, as a Wave's does.
        const auto& layer = layered.layer().layers[0].layers[0].layers[0].samples[0].layers[0];
        EXPECT_EQ(layer.wave.repitch, id.back() == '+' ? -50.0f : 50.0f);
    }
}

TEST(Layers, MalformedTriggersReadAsOtherNumbersDoAndNeverCrash) {
    MemoryBank bank(bankXml("bad-triggers", R"(
      <Sample midi="60" dynamic="F" velLo="abc" velHi="200x" chokeGroup="-2" velLo="9">
        <Wave file="bad-a.wav"/><Layer/><Layer velLo="90" velHi="20" chokeGroup=" 7"/></Sample>
      <Sample midi="62" dynamic="F" velLo="80" velHi="30"><Wave file="bad-b.wav"/></Sample>
      <Sample midi="64" dynamic="F" velLo="99999999999999999999"><Wave file="bad-c.wav"/>
      </Sample>)"));
    addTones(bank, {{"bad-a.wav", 10}, {"bad-b.wav", 20}, {"bad-c.wav", 30}});
    bank.initialize();
    const auto& samples = bank.layer().layers[0].layers[0].layers[0].samples;
    ASSERT_EQ(samples.size(), 3u);
    // The first of each name counts; a malformed number is its numeric prefix, or 0.
    EXPECT_EQ(samples[0].trigger.velLo, 0);
    EXPECT_EQ(samples[0].trigger.velHi, 200);
    EXPECT_EQ(samples[0].trigger.chokeGroup, -2);
    ASSERT_EQ(samples[0].layers.size(), 2u);
    EXPECT_EQ(samples[0].layers[0].wave.file, "");
    EXPECT_EQ(samples[0].layers[1].trigger.chokeGroup, 7);

    // A reversed range answers no velocity: the nearest sample that does plays.
    const auto& tree = bank.sampleTree();
    EXPECT_EQ(fileOf(tree.findSampleForVelocity(62, 50)), "bad-a.wav");
    EXPECT_EQ(fileOf(tree.findSampleForVelocity(64, 50)), "bad-c.wav");
    for (int velocity : {-5, 0, 1, 64, 127, 500}) {
        for (int midi : {0, 60, 62, 127}) {
            const auto players = bank.samplePlayersForVelocity(midi, velocity);
            ASSERT_FALSE(players.empty());
            // A group of 0 or less chokes nothing; players report it as it stands.
            EXPECT_LE(players.size(), 2u);
        }
    }
}

TEST(VoiceShapes, WaveAndLayerAttributesReachEveryPlayerOfTheNote) {
    MemoryBank bank(bankXml("shaped", R"(
        <Sample midi="60" dynamic="F">
          <Wave file="shaped-main.wav" pan="-0.5" cutoff="1200" resonance="6"
                velToCutoff="-2400" modAttack="0.01" modSustain="0.25" modEnvToCutoff="3600"
                modLfoDelay="0.2" modLfoFreq="5" modLfoToVolume="3" vibLfoFreq="6"
                vibLfoToPitch="15" cutoff="99"/>
          <Layer file="shaped-layer.wav" pan="0.75"/>
          <Layer file="shaped-plain.wav" gain="-3"/>
        </Sample>
        <Sample midi="72" dynamic="F"><Wave file="shaped-plain.wav"/></Sample>)"));
    addTones(bank,
             {{"shaped-main.wav", 100}, {"shaped-layer.wav", 200}, {"shaped-plain.wav", 300}});
    bank.initialize();

    const auto& wave = bank.layer().layers[0].layers[0].layers[0].samples[0].wavs[0];
    ASSERT_TRUE(wave.shape);
    const ox::audio::VoiceShape& s = *wave.shape;
    EXPECT_EQ(s.pan, -0.5f);
    EXPECT_EQ(s.cutoff, 1200.0f); // the first of a name counts
    EXPECT_EQ(s.resonance, 6.0f);
    EXPECT_EQ(s.velocityToCutoff, -2400.0f);
    EXPECT_EQ(s.modEnvelope.attack, 0.01f);
    EXPECT_EQ(s.modEnvelope.sustain, 0.25f);
    EXPECT_EQ(s.modEnvelope.decay, 0.0f);
    EXPECT_EQ(s.modEnvelopeToCutoff, 3600.0f);
    EXPECT_EQ(s.modLfo.delay, 0.2f);
    EXPECT_EQ(s.modLfo.frequency, 5.0f);
    EXPECT_EQ(s.modLfoToVolume, 3.0f);
    EXPECT_EQ(s.vibratoLfo.frequency, 6.0f);
    EXPECT_EQ(s.vibratoToPitch, 15.0f);

    const std::vector<VelocityPlayer> note = bank.samplePlayersForVelocity(60, 30);
    ASSERT_EQ(note.size(), 3u);
    ASSERT_TRUE(note[0].player.shape() && note[1].player.shape());
    EXPECT_EQ(*note[0].player.shape(), s);
    EXPECT_EQ(note[0].player.velocity(), 30);
    EXPECT_EQ(note[1].player.shape()->pan, 0.75f);
    EXPECT_FALSE(note[1].player.shape()->filtered());
    EXPECT_FALSE(note[2].player.shape()); // a layer without voice attributes has no shape
    // By dynamic the shape plays at the dynamic's velocity; the plain sample has none.
    EXPECT_EQ(bank.samplePlayer(60, 10).first.velocity(), ox::soundfont::velocityFromDynamic(10));
    EXPECT_TRUE(bank.samplePlayer(60, 10).first.shape());
    EXPECT_FALSE(bank.samplePlayer(72, 10).first.shape());
    EXPECT_FALSE(bank.samplePlayerForVelocity(72, 64).player.shape());
}
