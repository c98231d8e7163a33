// The loader thread and the audio thread at once: banks opened, decoded and
// handed over while blocks render and programs change (run under
// ThreadSanitizer by `make test-tsan`).

#include "SynthTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace oxtest;
using ox::synth::Synth;

TEST(SynthConcurrency, BanksLoadWhileBlocksRender) {
    TempDir dir;
    const std::vector<std::string> names = {"BusyA", "BusyB", "BusyC", "BusyD", "BusyE"};
    ox::synth::BankChooser banks(writeInstruments(dir, names));
    Synth synth(banks, {});
    synth.startLoader();

    std::vector<float> out(2 * 128);
    int blocks = 0;
    // Every channel at every program, round and round, until each has been heard.
    std::vector<bool> heard(16 * names.size(), false);
    while (std::find(heard.begin(), heard.end(), false) != heard.end() && blocks < 200000) {
        const int channel = blocks % 16;
        const int program = blocks / 16 % int(names.size());
        const std::vector<ox::synth::MidiEvent> events = {midiEvent(0, 0xC0 | channel, program),
                                                          midiEvent(1, 0x90 | channel, 69, 100),
                                                          midiEvent(100, 0x80 | channel, 69)};
        const int64_t missed = synth.missedNotes();
        synth.process(out.data(), 128, events.data(), events.size());
        if (synth.missedNotes() == missed) {
            heard[size_t(channel) * names.size() + size_t(program)] = true;
        }
        ++blocks;
    }
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](bool h) { return h; }));
    EXPECT_GT(synth.missedNotes(), 0); // the first notes came before their banks
}
