// One process call of the synth, at the block sizes hosts use, with 64 and 256
// voices sounding: its worst time and its 99.9th percentile, as shares of the
// block's real-time budget (frames / 44100 s), cubic interpolation. Every call is timed on its own;
// a voice that ends is replaced by a new note in the next block, so the voice
// count stays where it was asked to be and note starts are part of the cost.

#include "BenchBanks.h"

#include <ox/synth/Synth.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using ox::synth::MidiEvent;
using ox::synth::Synth;

constexpr int kRate = 44100;
// The audio bank's samples lie at MIDI 40-75.
constexpr int kLowKey = 40;
constexpr int kKeys = 36;

void BM_SynthProcess(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    const size_t voices = static_cast<size_t>(state.range(1));
    ox::synth::BankRules rules;
    rules.everything = oxsf::bench::benchBanks().audioBank();
    rules.drumChannels.reset();
    ox::synth::BankChooser chooser(rules);
    Synth synth(chooser, {});
    for (int channel = 0; channel < 16; ++channel) {
        synth.prepare(channel, 0, 0, 0);
    }

    std::vector<float> out(static_cast<size_t>(frames) * 2);
    std::vector<MidiEvent> events;
    events.reserve(Synth::kMaxVoices);
    int next = 0;
    // New notes for the voices that ended, each key of each channel in turn, so
    // that no note ends an earlier one of its own key.
    const auto topUp = [&] {
        events.clear();
        while (synth.voices() + events.size() < voices) {
            const int key = kLowKey + next % kKeys;
            const int channel = next / kKeys % 16;
            events.push_back({0, uint8_t(0x90 | channel), uint8_t(key), 100});
            ++next;
        }
    };
    // Every channel a little bent: the voices transpose, as most notes of a song do.
    for (int channel = 0; channel < 16; ++channel) {
        const MidiEvent bend{0, uint8_t(0xE0 | channel), 0, 0x4C};
        synth.process(out.data(), 0, &bend, 1);
    }
    for (int warm = 0; warm < 4; ++warm) {
        topUp();
        synth.process(out.data(), frames, events.data(), events.size());
    }

    std::vector<double> seconds;
    seconds.reserve(1 << 20);
    for (auto _ : state) {
        topUp();
        const auto start = std::chrono::steady_clock::now();
        synth.process(out.data(), frames, events.data(), events.size());
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(out.data());
        const double elapsed = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(elapsed);
        if (seconds.size() < seconds.capacity()) {
            seconds.push_back(elapsed);
        }
    }
    if (seconds.empty()) {
        return;
    }
    std::sort(seconds.begin(), seconds.end());
    const double budget = static_cast<double>(frames) / kRate;
    const size_t p999 = std::min(seconds.size() - 1, seconds.size() * 999 / 1000);
    state.counters["worst_budget"] = seconds.back() / budget;
    state.counters["p999_budget"] = seconds[p999] / budget;
    state.counters["voices"] = static_cast<double>(synth.voices());
    state.counters["missed"] = static_cast<double>(synth.missedNotes());
}

} // namespace

BENCHMARK(BM_SynthProcess)
    ->ArgNames({"frames", "voices"})
    ->ArgsProduct({{64, 128, 256}, {64, 256}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
