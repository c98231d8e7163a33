// The synth's process call on the audio thread: this binary counts every global
// allocation and every pthread_mutex_lock while notes start, stop, bend, hold
// for the pedal, steal voices and change programs, and while a note asks for a
// bank that is not ready yet.

#include "SynthTestSupport.h"
#include "support/CountingAllocations.h"
#include "support/CountingLocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace oxtest;
using ox::synth::MidiEvent;
using ox::synth::Synth;

namespace {

struct Counts {
    long allocations = oxtest::allocationCount.load();
    long locks = lockCount.load();
};

float peak(const std::vector<float>& samples) {
    float most = 0.0f;
    for (float x : samples) {
        most = std::max(most, std::fabs(x));
    }
    return most;
}

} // namespace

TEST(SynthRealTime, PlayingPreparedBanksNeitherAllocatesNorLocks) {
    TempDir dir;
    ox::synth::BankChooser banks(writeInstruments(dir, {"RtFirst", "RtSecond", "RtThird"}));
    Synth synth(banks, {.highQuality = true});
    for (int channel = 0; channel < 16; ++channel) {
        for (int program = 0; program < 3; ++program) {
            synth.prepare(channel, 0, 0, program);
        }
    }

    std::vector<float> out(2 * 256);
    std::vector<MidiEvent> events;
    events.reserve(64);
    const Counts before;
    for (int block = 0; block < 400; ++block) {
        events.clear();
        const int channel = block % 16;
        const int key = 30 + block % 60;
        events.push_back(midiEvent(0, 0xC0 | channel, block / 16 % 3)); // programs round and round
        for (int chord = 0; chord < 4; ++chord) { // beyond the voice limit: stealing
            events.push_back(midiEvent(10, 0x90 | channel, key + chord * 7, 30 + block % 90));
        }
        events.push_back(midiEvent(20, 0xE0 | channel, block % 128, block % 128));
        events.push_back(midiEvent(30, 0xB0 | channel, 64, block % 32 < 16 ? 127 : 0));
        events.push_back(midiEvent(40, 0xB0 | channel, 10, block % 128));
        if (block % 5 == 0) {
            events.push_back(midiEvent(50, 0x80 | channel, key));
        }
        if (block == 300) {
            events.push_back(midiEvent(60, 0xB0 | channel, 123, 0)); // all notes off
        }
        synth.process(out.data(), 256, events.data(), events.size());
    }
    synth.releaseAll();
    for (int block = 0; block < 100; ++block) {
        synth.process(out.data(), 256, nullptr, 0);
    }
    const Counts after;
    EXPECT_EQ(after.allocations - before.allocations, 0);
    EXPECT_EQ(after.locks - before.locks, 0);
    EXPECT_EQ(synth.missedNotes(), 0);
    EXPECT_EQ(synth.peakVoices(), Synth::kMaxVoices);
    EXPECT_GT(synth.stolenNotes(), 0);
    EXPECT_FALSE(synth.sounding());
}

TEST(SynthRealTime, ABankNotReadyIsMissedNotWaitedForAndPlaysOnceLoaded) {
    TempDir dir;
    ox::synth::BankChooser banks(writeInstruments(dir, {"LateFirst", "LateSecond"}));
    Synth synth(banks, {});
    ASSERT_TRUE(synth.prepare(0, 0, 0, 0));

    std::vector<float> out(2 * 256);
    const std::vector<MidiEvent> change = {midiEvent(0, 0xC1, 1), midiEvent(0, 0x91, 69, 100),
                                           midiEvent(0, 0x90, 69, 100)};
    long allocations = 0, locks = 0;
    {
        const Counts before;
        synth.process(out.data(), 256, change.data(), change.size());
        synth.process(out.data(), 256, &change[1], 1); // asked once, missed again
        const Counts after;
        allocations = after.allocations - before.allocations;
        locks = after.locks - before.locks;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(locks, 0);
    EXPECT_EQ(synth.missedNotes(), 2);
    EXPECT_EQ(synth.voices(), 1u); // the ready channel plays meanwhile

    synth.startLoader();
    synth.waitForLoader();
    const MidiEvent again = midiEvent(0, 0x91, 81, 100);
    synth.process(out.data(), 256, &again, 1);
    EXPECT_EQ(synth.missedNotes(), 2);
    EXPECT_EQ(synth.voices(), 2u);
    // The loader's bank plays without the first channel's: silence once that is off.
    const MidiEvent off = midiEvent(0, 0x80, 69);
    for (int block = 0; block < 20; ++block) {
        synth.process(out.data(), 256, block == 0 ? &off : nullptr, block == 0 ? 1 : 0);
    }
    EXPECT_EQ(synth.voices(), 1u);
    EXPECT_GT(peak(out), 0.05f);
}
