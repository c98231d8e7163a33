#pragma once

// Banks of sine tones in a temporary instruments folder, and a synth over them.

#include "support/TestSupport.h"

#include <ox/synth/Synth.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace oxtest {

constexpr int kSynthRate = 44100;

/// A bank of one looping sine a second long per note, `notes` mapping MIDI
/// notes to frequencies. File names carry `name`: the audio cache knows files
/// by name alone, so every bank of a test binary needs a name of its own.
inline void writeSineBank(const TempDir& dir, const std::string& name,
                          const std::vector<std::pair<int, double>>& notes) {
    static_assert(kSynthRate == 44100, "the banks are written at 44.1 kHz");
    writeSineBank(dir.file(name), name, false, notes, " ampRelease=\"0.05\"");
}

/// An instruments folder whose programs 0, 1, ... are the banks `names`, in order.
inline ox::synth::BankRules writeInstruments(const TempDir& dir,
                                             const std::vector<std::string>& names) {
    std::string list;
    for (size_t i = 0; i < names.size(); ++i) {
        writeSineBank(dir, names[i], {{57, 220.0}, {69, 441.0}, {81, 882.0}});
        list += std::string(i ? "," : "") + "{\"path\": \"" + names[i] +
                "\", \"kind\": \"pitched\", \"bank\": 0, \"program\": " + std::to_string(i) + "}";
    }
    writeFile(dir.file("instruments.json"), "{\"version\": 1, \"banks\": [" + list + "]}");
    ox::synth::BankRules rules;
    rules.instruments = dir.path().string();
    return rules;
}

inline ox::synth::MidiEvent midiEvent(uint32_t frame, int status, int data1, int data2 = 0) {
    return {frame, uint8_t(status), uint8_t(data1), uint8_t(data2)};
}

} // namespace oxtest
