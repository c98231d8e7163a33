// The plugin's run() on the audio thread: this binary counts every global
// allocation and every pthread_mutex_lock inside run() while it plays notes,
// more events than one synth call takes, runs longer than a synth block, and
// answers patch:Get.

#include "Lv2Host.h"

#include "support/CountingAllocations.h"
#include "support/CountingLocks.h"
#include "synth/SynthTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace oxtest;

TEST(Lv2RealTime, RunNeitherAllocatesNorLocks) {
    TempDir dir;
    writeInstruments(dir, {"LvRealtime"});
    Lv2World world;
    Lv2Instance plugin(world, kSynthRate);
    ASSERT_TRUE(plugin.ok());
    plugin.setBank(dir.path().string());
    plugin.run(256);

    plugin.countInRun([] { return allocationCount.load() + lockCount.load(); });
    float loudest = 0.0f;
    for (int block = 0; block < 200; ++block) {
        std::vector<TimedMidi> midi;
        const uint8_t channel = uint8_t(block % 4);
        for (int key : {57, 69, 81}) {
            midi.push_back({uint32_t(block % 7), {uint8_t(0x90 | channel), uint8_t(key), 90}});
        }
        midi.push_back({20, {uint8_t(0xE0 | channel), 0, uint8_t(block % 128)}});
        midi.push_back({30, {uint8_t(0xB0 | channel), 64, uint8_t(block % 20 < 10 ? 127 : 0)}});
        if (block % 3 == 0) {
            midi.push_back({200, {uint8_t(0x80 | channel), 69, 0}});
        }
        if (block % 50 == 0) {
            plugin.getBank();
        }
        if (block % 40 == 39) {
            // More events than a synth call takes, over a run longer than a synth block.
            for (uint32_t i = 0; i < 1500; ++i) {
                midi.push_back({i, {uint8_t(i % 2 ? 0x80 : 0x90), 57, 100}});
            }
        }
        std::sort(midi.begin(), midi.end(),
                  [](const TimedMidi& a, const TimedMidi& b) { return a.frame < b.frame; });
        const std::vector<float> out = plugin.run(block % 40 == 39 ? 6000 : 256, midi);
        for (float x : out) {
            loudest = std::max(loudest, std::fabs(x));
        }
    }
    EXPECT_GT(loudest, 0.05f);
    EXPECT_EQ(plugin.countedInRun(), 0);
    EXPECT_EQ(plugin.announcedBank(), dir.path().string());
}
