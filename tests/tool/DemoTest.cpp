// The demo works on a fresh machine: its banks open through the library, every
// phrase note finds a sample, the audio library reads its loops, and the banks
// pass the bank check.

#include "ToolRunner.h"

#include "support/TestSupport.h"

#include "demo/DemoBanks.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFontManager.h>

#include <gtest/gtest.h>

using namespace oxtest;
using namespace ox::soundfont;

TEST(Demo, BanksOpenAndEveryPhraseNoteFindsASample) {
    TempDir dir;
    const oxsf::demo::DemoBanks banks = oxsf::demo::writeDemoBanks(dir.path().string());
    SoundFontManager manager;
    const auto guitar = manager.addDirectory(banks.guitar);
    const auto drums = manager.addDirectory(banks.drums);
    ASSERT_TRUE(guitar);
    ASSERT_TRUE(drums);
    EXPECT_NE(dynamic_cast<SoundFontV6*>(guitar.get()), nullptr);
    EXPECT_NE(dynamic_cast<SoundFontV7*>(drums.get()), nullptr);
    EXPECT_EQ(guitar->tuning(), (std::vector<int>{64, 59, 55, 50, 45, 40}));
    EXPECT_EQ(guitar->sampleTree().name(), "pitched");
    EXPECT_EQ(drums->sampleTree().name(), "unpitched");

    // Every sample of the descriptions is filed (no layer name outside the vocabulary).
    EXPECT_EQ(guitar->sampleTree().sampleCount(), banks.guitarSamples);
    EXPECT_EQ(drums->sampleTree().sampleCount(), banks.drumSamples);

    for (const auto& [bank, phrase] : {std::pair{guitar, &oxsf::demo::guitarPhrase()},
                                       std::pair{drums, &oxsf::demo::drumPhrase()}}) {
        for (const oxsf::demo::PhraseNote& note : *phrase) {
            const SampleTreeNodeSample* sample = bank->sampleTree().findSampleByMidi(note.midi, 10);
            ASSERT_NE(sample, nullptr) << bank->id() << " midi " << note.midi;
            ASSERT_FALSE(sample->files.empty());
            const std::string& file = sample->files.begin()->second;
            const auto stream = bank->audioStream(file);
            ASSERT_TRUE(stream) << file;
            EXPECT_GT(stream->frameCount(), 0) << file;
            EXPECT_LE(std::abs(note.midi - (*sample)[1]), 2) << file;
            if (bank == drums) {
                EXPECT_EQ((*sample)[1], note.midi) << "each kit piece has its own note";
            }
        }
    }

    // Loops written as a WAV "smpl" chunk and as a FLAC comment are both read.
    EXPECT_TRUE(guitar->audioStream("Gtr-Pick-Down-S6-F00-F.flac")->looping());
    EXPECT_TRUE(guitar->audioStream("Gtr-Fng-Index-S1-F00-F.wav")->looping());
    EXPECT_FALSE(guitar->audioStream("Gtr-Pick-Down-S6-F00-MP.flac")->looping());
    EXPECT_FALSE(guitar->audioStream("Gtr-Pick-Up-S1-F00-F.ogg")->looping());
}

TEST(Demo, CommandWritesAnAudibleMix) {
    TempDir dir;
    const std::string out = dir.file("demo-out");
    const ToolResult result = runTool({"demo", "--out", out});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.find("NO SAMPLE"), std::string::npos);
    EXPECT_NE(result.out.find(out + "/demo.wav"), std::string::npos);

    // Both banks pass the bank check without a warning, decoded whole.
    const ToolResult check =
        runTool({"check", out + "/DemoGuitar", out + "/DemoDrums.tq7bank", "--decode", "--strict"});
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_EQ(check.out, out + "/DemoGuitar: 0 errors, 0 warnings\n" + out +
                             "/DemoDrums.tq7bank: 0 errors, 0 warnings\n");

    const SoundFile mix = readSound(out + "/demo.wav");
    EXPECT_EQ(mix.channels, 2);
    EXPECT_GT(mix.frames, 3 * 44100);
    const float peak = mix.peak();
    EXPECT_GT(peak, 0.5f);
    EXPECT_LT(peak, 1.0f);
}
