// The synth as a host drives it: events land on their frames whatever the block
// size, input no MIDI device sends does no harm, and a note the audio cache is
// too busy to serve starts late or not at all, never blocking.

#include "SynthTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <thread>

using namespace oxtest;
using ox::synth::MidiEvent;
using ox::synth::Synth;

namespace {

/// A phrase over two programs: notes on two channels, a bend, the pedal, a
/// program change between two notes, pan and volume.
std::vector<MidiEvent> phrase() {
    return {midiEvent(0, 0xB0, 10, 0),      midiEvent(0, 0x90, 69, 100),
            midiEvent(3000, 0xC1, 1),       midiEvent(3001, 0x91, 57, 90),
            midiEvent(9000, 0xE0, 0, 0x60), midiEvent(12000, 0xB0, 64, 127),
            midiEvent(12500, 0x80, 69),     midiEvent(20000, 0x91, 81, 70),
            midiEvent(25000, 0xB1, 7, 60),  midiEvent(30000, 0xB0, 64, 0),
            midiEvent(30001, 0xC1, 0),      midiEvent(30002, 0x91, 69, 127),
            midiEvent(40000, 0x81, 57),     midiEvent(41000, 0x81, 81),
            midiEvent(44000, 0x81, 69)};
}

/// The phrase rendered in blocks of the sizes given, round and round, for `frames` frames.
std::vector<float> render(Synth& synth, const std::vector<int>& sizes, int frames) {
    const std::vector<MidiEvent> events = phrase();
    std::vector<float> out(size_t(frames) * 2);
    size_t next = 0;
    for (int start = 0, block = 0; start < frames; ++block) {
        const int count = std::min(sizes[size_t(block) % sizes.size()], frames - start);
        std::vector<MidiEvent> inBlock;
        for (; next < events.size() && int(events[next].frame) < start + count; ++next) {
            inBlock.push_back(events[next]);
            inBlock.back().frame -= uint32_t(start);
        }
        synth.process(&out[size_t(start) * 2], count, inBlock.data(), inBlock.size());
        start += count;
    }
    return out;
}

} // namespace

TEST(Synth, EventsLandOnTheirFramesWhateverTheBlockSize) {
    TempDir dir;
    ox::synth::BankChooser banks(writeInstruments(dir, {"SizeLow", "SizeHigh"}));
    const int frames = 60000;
    std::vector<std::vector<float>> renders;
    for (const std::vector<int>& sizes :
         std::vector<std::vector<int>>{{512}, {Synth::kMaxBlockFrames}, {1, 37, 700, 64, 4000}}) {
        Synth synth(banks, {});
        for (int program : {0, 1}) {
            for (int channel : {0, 1}) {
                ASSERT_TRUE(synth.prepare(channel, 0, 0, program));
            }
        }
        renders.push_back(render(synth, sizes, frames));
        EXPECT_EQ(synth.missedNotes(), 0);
        // The first channel's note fades from the pedal's lift as the second's starts.
        EXPECT_EQ(synth.peakVoices(), 4u);
    }
    // The first note starts at frame 0.
    EXPECT_GT(std::fabs(renders[0][2 * 5]), 0.0f);
    for (size_t i = 1; i < renders.size(); ++i) {
        float most = 0.0f;
        for (size_t j = 0; j < renders[0].size(); ++j) {
            most = std::max(most, std::fabs(renders[i][j] - renders[0][j]));
        }
        EXPECT_LT(most, 1e-6f) << "block sizes " << i;
    }
    // Silence before the second channel's first note, on its frame exactly: nothing
    // on the right but the pan of the first (hard left) and the second (centre).
    float before = 0.0f, after = 0.0f;
    for (size_t frame = 0; frame < 3011; ++frame) {
        (frame <= 3000 ? before : after) += std::fabs(renders[2][2 * frame + 1]);
    }
    EXPECT_EQ(before, 0.0f);
    EXPECT_GT(after, 0.0f);
}

TEST(Synth, InputNoDeviceSendsIsHarmless) {
    TempDir dir;
    ox::synth::BankChooser banks(writeInstruments(dir, {"OddInput"}));
    Synth synth(banks, {});
    ASSERT_TRUE(synth.prepare(0, 0, 0, 0));
    // No bank for program 9, nor for a channel past 15.
    EXPECT_EQ(synth.prepare(3, 0, 0, 9), nullptr);
    EXPECT_EQ(synth.prepare(16, 0, 0, 0), nullptr);

    std::vector<float> out(size_t(Synth::kMaxBlockFrames) * 2 + 64, 1.0f);
    const std::vector<MidiEvent> odd = {
        midiEvent(100, 0x90, 200, 255), // data bytes with the high bit
        midiEvent(50, 0x90, 69, 100),   // before the event before it
        midiEvent(9999999, 0x80, 69),   // past the block
        midiEvent(0, 0x00, 1, 2),       // not a status byte
        midiEvent(0, 0xF0, 1, 2),       // a system message
        midiEvent(0, 0xE0, 0xFF, 0xFF), // a bend out of range
        midiEvent(0, 0xB0, 6, 127),     // data entry with no parameter chosen
        midiEvent(0, 0xB0, 121, 0),     // reset, then all sound off
        midiEvent(0, 0xB0, 120, 0),     //
        midiEvent(0, 0x93, 60, 100)};   // a channel without a bank
    // The events before the last frame's land there: all sound off ends the block's sound.
    EXPECT_EQ(synth.process(out.data(), 256, odd.data(), odd.size()), 255);
    EXPECT_EQ(synth.process(out.data(), -5, odd.data(), odd.size()), 0);
    EXPECT_EQ(synth.process(out.data(), 0, nullptr, 3), 0);
    EXPECT_EQ(synth.process(nullptr, 512, nullptr, 0), 0);
    // A block too large is cut to the largest; what lies past it is left alone.
    out.assign(out.size(), 1.0f);
    synth.process(out.data(), Synth::kMaxBlockFrames + 32, nullptr, 0);
    EXPECT_EQ(out[size_t(Synth::kMaxBlockFrames) * 2], 1.0f);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + Synth::kMaxBlockFrames * 2,
                            [](float x) { return std::isfinite(x) && std::fabs(x) <= 1.0f; }));
    synth.releaseAll();
    for (int i = 0; i < 100 && synth.sounding(); ++i) {
        synth.process(out.data(), 512, nullptr, 0);
    }
    EXPECT_FALSE(synth.sounding());
    // Channel 4's program was never prepared, and no loader runs: missed, each time.
    EXPECT_EQ(synth.missedNotes(), 2);

    // Settings that make no sense play something finite, and end.
    Synth odder(banks, {.sampleRate = -1, .release = std::nan(""), .gain = 0.5f});
    ASSERT_TRUE(odder.prepare(0, 0, 0, 0));
    const MidiEvent note[] = {midiEvent(0, 0x90, 69, 100), midiEvent(100, 0x80, 69)};
    odder.process(out.data(), 512, note, 2);
    EXPECT_TRUE(
        std::all_of(out.begin(), out.begin() + 1024, [](float x) { return std::isfinite(x); }));
    for (int i = 0; i < 100 && odder.sounding(); ++i) {
        odder.process(out.data(), 512, nullptr, 0);
    }
    EXPECT_FALSE(odder.sounding());
}

namespace {

/// A bank whose one file opens only when told to: while it waits, the audio
/// cache, which opens files under its lock, is busy for every bank. The cache
/// knows files by name: each bank needs a file name of its own.
class SlowBank : public MemoryBank {
public:
    explicit SlowBank(const std::string& file)
        : MemoryBank(R"(<Bank id="slow"><SamplesTree><Node class="pick"><Node class="sustain">
            <Node class="down"><Samples><Sample midi="60" dynamic="F"><Wave file=")" +
                     file + R"("/></Sample></Samples></Node></Node></Node></SamplesTree></Bank>)") {
        addSample(file, encodeTone(AudioFormat::Wav16, Tone{.frames = 4000}));
        initialize();
    }
    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override {
        opening.set_value();
        open.get_future().wait();
        return MemoryBank::audioStream(name);
    }
    mutable std::promise<void> opening;
    mutable std::promise<void> open;
};

} // namespace

TEST(Synth, ANoteTheBusyCacheCannotServeStartsLateOrIsMissed) {
    TempDir dir;
    ox::synth::BankChooser banks(writeInstruments(dir, {"BusyCache"}));
    Synth synth(banks, {});
    ASSERT_TRUE(synth.prepare(0, 0, 0, 0));
    std::vector<float> out(2 * 512);

    for (const bool patient : {true, false}) {
        SlowBank slow(patient ? "slow-patient.wav" : "slow-missed.wav");
        std::thread loader([&slow] { slow.samplePlayer(60, 10); });
        slow.opening.get_future().wait();
        // Struck and let go while the cache is busy: it waits...
        const MidiEvent note[] = {midiEvent(0, 0x90, 69, 100), midiEvent(10, 0x80, 69)};
        synth.process(out.data(), 512, note, 2);
        EXPECT_EQ(synth.voices(), 0u);
        if (!patient) {
            // ...but not for longer than a tenth of a second.
            for (int block = 0; block < 10; ++block) {
                synth.process(out.data(), 512, nullptr, 0);
            }
        }
        slow.open.set_value();
        loader.join();
        synth.process(out.data(), 512, nullptr, 0);
        EXPECT_EQ(synth.voices(), patient ? 1u : 0u);
        EXPECT_EQ(synth.missedNotes(), patient ? 0 : 1);
        // Started late, it still ends as its note-off said.
        for (int block = 0; block < 50 && synth.sounding(); ++block) {
            synth.process(out.data(), 512, nullptr, 0);
        }
        EXPECT_FALSE(synth.sounding());
    }
}

TEST(Synth, RoundRobinAlternatesTakeTurnsKeyByKey) {
    // Key 69 alternates between two tones, each strike the other; a prepared
    // bank holds both decoded, so no strike is missed.
    TempDir dir;
    const std::string bank = dir.file("Turns");
    for (const auto& [file, frequency] : {std::pair{"turn-a.wav", 441.0}, {"turn-b.wav", 882.0}}) {
        ASSERT_TRUE(writeTone(
            bank + "/Samples/" + file, AudioFormat::Wav16,
            Tone{.frames = 44100, .frequency = frequency, .loopStart = 4200, .loopEnd = 42000}));
    }
    writeFile(bank + "/Samples.xml",
              R"(<Bank id="turns"><SamplesTree><Node class="pick"><Node class="sustain">)"
              R"(<Node class="down"><Samples><Sample midi="69" dynamic="F" seqLength="2" )"
              R"(seqPosition="1"><Wave file="turn-a.wav" ampRelease="0.01"/><Layer )"
              R"(file="turn-b.wav" ampRelease="0.01" seqLength="2" seqPosition="2"/>)"
              R"(</Sample></Samples></Node></Node></Node></SamplesTree></Bank>)");
    ox::synth::BankRules rules;
    rules.everything = bank;
    ox::synth::BankChooser banks(rules);
    Synth synth(banks, {});
    ASSERT_TRUE(synth.prepare(0, 0, 0, 0));
    const int strike = 8820; // 0.2 s
    std::vector<MidiEvent> events;
    for (uint32_t i = 0; i < 3; ++i) {
        events.push_back(midiEvent(i * strike, 0x90, 69, 100));
        events.push_back(midiEvent(i * strike + strike - 1000, 0x80, 69));
    }
    std::vector<float> out(size_t(3 * strike) * 2);
    for (int start = 0; start < 3 * strike; start += 512) {
        std::vector<MidiEvent> inBlock;
        for (const MidiEvent& e : events) {
            if (int(e.frame) >= start && int(e.frame) < start + 512) {
                inBlock.push_back(e);
                inBlock.back().frame -= uint32_t(start);
            }
        }
        const int count = std::min(512, 3 * strike - start);
        synth.process(&out[size_t(start) * 2], count, inBlock.data(), inBlock.size());
    }
    EXPECT_EQ(synth.missedNotes(), 0);
    const double expected[] = {441.0, 882.0, 441.0};
    for (int i = 0; i < 3; ++i) {
        int crossings = 0;
        for (int f = i * strike + 200; f < i * strike + 7000; ++f) {
            crossings += out[size_t(f) * 2] < 0.0f && out[size_t(f + 1) * 2] >= 0.0f;
        }
        EXPECT_NEAR(crossings / (6800.0 / kSynthRate), expected[i], 15.0) << "strike " << i;
    }
}
