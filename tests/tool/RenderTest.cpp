// oxsf render on songs and banks made here: channels reach their banks and
// stereo places, the pedal holds and the bend retunes, output formats are what
// their names say, levels are honest, broken input is warned about or refused
// in one line, and the tool plays what the synth library plays for a host.

#include "ToneBanks.h"
#include "ToolRunner.h"

#include "support/TestSupport.h"

#include "demo/MidiWriter.h"
#include "demo/SoundFontWriter.h"

#include <ox/synth/Synth.h>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;
using namespace oxtest;
using oxsf::demo::MidiWriter;

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBeat = 480; // ticks: half a second at the default 120 bpm

std::string writeSong(const TempDir& dir, const MidiWriter& midi) {
    const std::string path = dir.file("song.mid");
    writeFile(path, midi.bytes());
    return path;
}

/// A stereo render at 44.1 kHz, measured between two times in seconds.
struct Sound : SoundFile {
    /// Root mean square of one channel.
    double rms(int channel, double from, double to) const {
        double sum = 0.0;
        const size_t first = size_t(from * kRate), last = size_t(to * kRate);
        for (size_t i = first; i < last; ++i) {
            sum += double(samples[2 * i + channel]) * samples[2 * i + channel];
        }
        return std::sqrt(sum / double(last - first));
    }
    /// Frequency of one channel, from its rising zero crossings.
    double frequency(int channel, double from, double to) const {
        int crossings = 0;
        for (size_t i = size_t(from * kRate); i < size_t(to * kRate); ++i) {
            crossings += samples[2 * i + channel] < 0.0f && samples[2 * i + 2 + channel] >= 0.0f;
        }
        return crossings / (to - from);
    }
};

Sound readStereo(const std::string& path) {
    return {readSound(path)};
}

/// "-3.1 dBFS", or with a sign, as the tool prints levels.
std::string decibels(float peak, const char* format = "%.1f dBFS") {
    char text[32];
    std::snprintf(text, sizeof text, format, 20.0 * std::log10(peak));
    return text;
}

} // namespace

TEST(RenderSong, ProgramsAndChannelsChooseBanksAndPansPlaceThem) {
    TempDir dir;
    const std::string low = writeBank(dir, "Low", false, {{69, 441.0}});
    const std::string high = writeBank(dir, "High", false, {{69, 630.0}});
    const std::string kit = writeBank(dir, "Kit", true, {{38, 1050.0}});
    writeFile(dir.file("banks/instruments.json"),
              R"({"version": 1, "banks": [
                  {"path": "Low", "kind": "pitched", "bank": 0, "program": 0},
                  {"path": "High", "kind": "pitched", "bank": 0, "program": 33},
                  {"path": "Kit", "kind": "unpitched", "bank": 128, "program": 0}]})");
    MidiWriter midi;
    midi.controller(0, 0, 10, 0); // program 0, hard left
    midi.note(0, 0, 2 * kBeat, 69, 127);
    midi.program(1, 0, 33); // hard right
    midi.controller(1, 0, 10, 127);
    midi.note(1, 0, 2 * kBeat, 69, 127);
    midi.program(2, 0, 80); // no bank for programs 80-87
    midi.note(2, 0, kBeat, 60, 100);
    midi.note(9, 5 * kBeat, 10, 38, 127); // in the middle, ringing on past its note-off
    midi.note(9, 5 * kBeat, 10, 40, 127); // a piece the kit lacks
    const std::string song = writeSong(dir, midi);
    const std::string out = dir.file("out.wav");

    const ToolResult result =
        runTool({"render", song, "--instruments", dir.file("banks"), "-o", out});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("channel  1  program   0  " + low), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("channel  2  program  33  " + high), std::string::npos);
    EXPECT_NE(result.out.find("channel 10  kit       0  " + kit), std::string::npos);
    EXPECT_NE(result.out.find("3 notes rendered"), std::string::npos);
    // One line for the program without a bank, one summary for the kit.
    EXPECT_EQ(lineCount(result.err), 2) << result.err;
    EXPECT_NE(result.err.find("channel 3: no program 0:80"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("the kit has no piece for 1 note: E2 (40)"), std::string::npos);

    const Sound sound = readStereo(out);
    EXPECT_NEAR(sound.frequency(0, 0.1, 0.9), 441.0, 5.0);
    EXPECT_NEAR(sound.frequency(1, 0.1, 0.9), 630.0, 5.0);
    // The drum sounds in the middle, on after its note-off, at equal levels.
    EXPECT_GT(sound.rms(0, 2.5, 2.9), 0.05);
    EXPECT_NEAR(sound.rms(0, 2.5, 2.9), sound.rms(1, 2.5, 2.9), 1e-3);

    const ToolResult strict =
        runTool({"render", song, "--instruments", dir.file("banks"), "-o", out, "--strict"});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_NE(strict.err.find("oxsf: error: " + song + ": 2 warnings (--strict)"),
              std::string::npos)
        << strict.err;

    // --bank puts a bank on channels whatever their program; the rest go unplayed.
    const ToolResult banked = runTool({"render", song, "--bank", "1-2=" + high, "-o", out});
    ASSERT_EQ(banked.exitCode, 0) << banked.err;
    EXPECT_NEAR(readStereo(out).frequency(0, 0.1, 0.9), 630.0, 5.0);
    EXPECT_NE(banked.err.find("channel 10 (drums): no kit"), std::string::npos) << banked.err;
}

TEST(RenderSong, PedalHoldsBendRetunesVolumeScales) {
    TempDir dir;
    const std::string bank = writeBank(dir, "Tone", false, {{69, 441.0}});
    MidiWriter midi;
    midi.controller(0, 0, 10, 0); // left: a short note held by the pedal until 1.5 s
    midi.controller(0, 0, 64, 127);
    midi.note(0, 0, kBeat / 2, 69, 127);
    midi.controller(0, 3 * kBeat, 64, 0);
    midi.controller(1, 0, 10, 127); // right: a long note bent up at 1 s
    midi.note(1, 0, 4 * kBeat, 69, 127);
    midi.bend(1, 2 * kBeat, 8191);
    midi.controller(2, 0, 101, 0); // a third channel bends an octave (RPN 0 set to 12)
    midi.controller(2, 0, 100, 0);
    midi.controller(2, 0, 6, 12);
    midi.controller(2, 0, 10, 127);
    midi.bend(2, 0, 8191);
    midi.note(2, 6 * kBeat, kBeat, 69, 127);
    midi.controller(3, 0, 10, 0); // left again, at half the default volume: a quarter the level
    midi.controller(3, 0, 7, 50);
    midi.note(3, 8 * kBeat, kBeat, 69, 127);

    const std::string out = dir.file("out.wav");
    const ToolResult result = runTool({"render", bank, writeSong(dir, midi), "-o", out, "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Sound sound = readStereo(out);
    EXPECT_GT(sound.rms(0, 1.0, 1.45), 0.1);    // held by the pedal
    EXPECT_LT(sound.rms(0, 1.65, 1.95), 0.001); // released when it lifts (80 ms)
    EXPECT_NEAR(sound.frequency(1, 0.1, 0.9), 441.0, 5.0);
    EXPECT_NEAR(sound.frequency(1, 1.1, 1.9), 441.0 * std::pow(2.0, 2.0 / 12.0), 5.0);
    EXPECT_NEAR(sound.frequency(1, 3.1, 3.4), 882.0, 8.0);
    EXPECT_NEAR(sound.rms(0, 4.1, 4.4) / sound.rms(0, 1.0, 1.45), 0.25, 0.01);

    // --quality high: the bent notes go through the sinc, close to the cubic (the
    // most where the octave's note starts); the rest is the same.
    const std::string high = dir.file("high.wav");
    ASSERT_EQ(runTool({"render", bank, dir.file("song.mid"), "-o", high, "-q", "--quality", "high"})
                  .exitCode,
              0);
    const Sound sinc = readStereo(high);
    ASSERT_EQ(sinc.samples.size(), sound.samples.size());
    float most = 0.0f;
    for (size_t i = 0; i < sound.samples.size(); ++i) {
        most = std::max(most, std::fabs(sinc.samples[i] - sound.samples[i]));
    }
    EXPECT_GT(most, 0.0f);
    EXPECT_LT(most, 0.01f);
}

TEST(RenderOutput, FormatsByExtensionHonestLevelsAndMissingSamples) {
    TempDir dir;
    const std::string bank = writeBank(dir, "Tone", false, {{69, 441.0}});
    MidiWriter midi;
    midi.note(0, 0, 2 * kBeat, 69, 127);
    midi.note(0, 0, 2 * kBeat, 72, 127);
    midi.note(0, 0, 2 * kBeat, 76, 127);
    const std::string song = writeSong(dir, midi);
    const auto render = [&](const std::string& out, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"render", bank, song, "-o", dir.file(out)};
        args.insert(args.end(), more.begin(), more.end());
        return runTool(args);
    };

    ASSERT_EQ(render("out.flac").exitCode, 0);
    EXPECT_EQ(readFile(dir.file("out.flac")).substr(0, 4), "fLaC");
    EXPECT_EQ(readSound(dir.file("out.flac")).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_EQ(render("out.ogg").exitCode, 0);
    EXPECT_EQ(readSound(dir.file("out.ogg")).format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    ASSERT_EQ(render("out.wav", {"--bits", "24"}).exitCode, 0);
    EXPECT_EQ(readSound(dir.file("out.wav")).format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const ToolResult unknown = render("out.mp3");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("unknown output format '.mp3'"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.file("out.mp3")));

    // Three loud notes at +12 dB: float keeps what is over full scale, 16-bit
    // clips and says by how much, --normalize brings the peak to -1 dBFS.
    const ToolResult floating = render("float.wav", {"--float", "--gain", "12"});
    EXPECT_EQ(lineCount(floating.err), 0) << floating.err;
    const float peak = readSound(dir.file("float.wav")).peak();
    EXPECT_GT(peak, 1.5f);
    EXPECT_NE(floating.out.find("peak " + decibels(peak)), std::string::npos) << floating.out;
    const ToolResult clipped = render("clipped.wav", {"--gain", "12"});
    EXPECT_EQ(clipped.exitCode, 0);
    EXPECT_NE(
        clipped.err.find("clipped at full scale: the mix peaks at " + decibels(peak, "%+.1f dBFS")),
        std::string::npos)
        << clipped.err;
    EXPECT_NEAR(readSound(dir.file("clipped.wav")).peak(), 1.0f, 1e-3f);
    const ToolResult normalized = render("normalized.wav", {"--normalize"});
    EXPECT_EQ(normalized.exitCode, 0) << normalized.err;
    EXPECT_NEAR(readSound(dir.file("normalized.wav")).peak(), 0.891f, 2e-3f);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 8)
        << "no scratch file is left behind";

    // A sample file that is gone: one warning naming it, and exit 1 under --strict.
    fs::remove(bank + "/Samples/Tone69.wav");
    const ToolResult missing = render("missing.wav");
    EXPECT_EQ(missing.exitCode, 0);
    EXPECT_EQ(lineCount(missing.err), 1);
    EXPECT_NE(missing.err.find("sample file Tone69.wav cannot be opened or decoded"),
              std::string::npos)
        << missing.err;
    EXPECT_EQ(render("missing.wav", {"--strict"}).exitCode, 1);
}

TEST(RenderSong, BrokenMidiFilesAreRefusedInOneLine) {
    TempDir dir;
    const std::string bank = writeBank(dir, "Tone", false, {{69, 441.0}});
    const std::string header("MThd\0\0\0\6\0\1\0\1\1\xE0", 14);
    const auto track = [](const std::string& events) {
        const char size[4] = {0, 0, 0, char(events.size())};
        return "MTrk" + std::string(size, 4) + events;
    };
    const std::vector<std::pair<std::string, std::string>> files = {
        {"MThd", "does not start"},
        {std::string("MThd\0\0\0\6\0\1\0\1\0\0", 14) + track("\x00\xFF\x2F\x00"),
         "time division is 0"},
        {header, "holds no track"},
        {header + std::string("MTrk\0\0\1\0\x00\x90", 10), "runs past the end"},
        {header + track(std::string("\x00\x90\x45", 3)), "breaks off"},
        {header + track(std::string("\x00\x45\x40", 3)), "a data byte"},
        {header + track(std::string("\xFF\xFF\xFF\xFF\x7F\x90\x45\x40", 8)), "longer than 4"},
        {header + track(std::string("\x00\xF1\x00", 3)), "system message"},
        // Four quarter notes, the third a quarter of a billion ticks later.
        {header + track(std::string("\x00\x90\x45\x40\x83\x60\x80\x45\x00"
                                    "\xFF\xFF\xFF\x7F\x90\x45\x40\x83\x60\x80\x45\x00",
                                    21)),
         "refusing more than 4"},
    };
    for (const auto& [bytes, problem] : files) {
        writeFile(dir.file("bad.mid"), bytes);
        const ToolResult result =
            runTool({"render", bank, dir.file("bad.mid"), "-o", dir.file("out.wav")});
        expectOneLineError(result, 1, {"oxsf: error: " + dir.file("bad.mid") + ": ", problem});
    }
}

TEST(RenderOutput, AWriteThatFailsLeavesNoCutOffFileAndSaysSo) {
    TempDir dir;
    const std::string bank = writeBank(dir, "Full", false, {{69, 441.0}});
    MidiWriter midi;
    midi.note(0, 0, 4 * kBeat, 69, 100);
    const std::string song = writeSong(dir, midi);
    const std::string earlier = dir.file("song.wav");
    ASSERT_EQ(runTool({"render", bank, song, "-o", earlier}).exitCode, 0);
    const std::string before = readFile(earlier);
    const std::string font = dir.file("font.sf2");
    writeFile(font, oxsf::demo::sf2Bytes(oxsf::demo::demoSoundFont(1)));
    const auto entries = [&] {
        return std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
    };
    const auto count = entries();

    // Each file may grow to 20 kB: every output here needs more, as on a full disk.
    constexpr long kLimit = 20000;
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    for (const Case& c :
         {Case{{"render", bank, song, "-o", earlier, "-q"}, "the unfinished file was removed"},
          Case{{"render", bank, song, "-o", earlier, "-q", "--normalize"},
               "the unfinished file was removed"},
          Case{{"play", bank, "A4@0:2", "-o", dir.file("play.flac")},
               "the unfinished file was removed"},
          Case{{"pack", bank, dir.file("bank.tq7bank")}, "the unfinished archive was removed"},
          Case{{"import", font, dir.file("imported")}, "the unfinished bank was removed"}}) {
        SCOPED_TRACE(c.args[0]);
        expectOneLineError(runToolWithFileLimit(c.args, kLimit), 1, {c.says});
        EXPECT_EQ(readFile(earlier), before) << "the file in place stays as it was";
        const auto left = entries() - count;
        EXPECT_EQ(left, c.args[0] == "import" ? 1 : 0) << "nothing else is left behind";
    }
    EXPECT_TRUE(fs::is_empty(dir.file("imported")) ||
                fs::directory_iterator(dir.file("imported"))->path().filename() ==
                    "instruments.json");
}

TEST(RenderSong, LayersPansChokesAndFiltersSoundAsTheBankSays) {
    TempDir dir;
    const std::string path = dir.file("banks/Voiced");
    const auto tone = [&](const std::string& file, double frequency) {
        ASSERT_TRUE(writeTone(
            path + "/Samples/" + file, AudioFormat::Wav16,
            Tone{.frames = kRate, .frequency = frequency, .loopStart = 4200, .loopEnd = 42000}));
    };
    tone("v-main.wav", 441.0);
    tone("v-layer.wav", 630.0);
    tone("v-open.wav", 882.0);
    tone("v-closed.wav", 1260.0);
    tone("v-bright.wav", 2205.0);
    writeFile(path + "/Samples.xml", R"(<Bank id="Voiced" type="guitar"><SamplesTree>
        <Node class="pick"><Node class="sustain"><Node class="down"><Samples>
          <Sample midi="60" dynamic="F"><Wave file="v-main.wav" pan="-1"/>
            <Layer file="v-layer.wav" pan="1"/></Sample>
          <Sample midi="62" dynamic="F" chokeGroup="1"><Wave file="v-open.wav" pan="-1"/></Sample>
          <Sample midi="64" dynamic="F" chokeGroup="1"><Wave file="v-closed.wav" pan="1"/></Sample>
          <Sample midi="66" dynamic="F"><Wave file="v-bright.wav"/></Sample>
          <Sample midi="68" dynamic="F"><Wave file="v-bright.wav" cutoff="300"/></Sample>
        </Samples></Node></Node></Node></SamplesTree></Bank>)");
    MidiWriter midi;
    midi.note(0, 0, 2 * kBeat, 60, 127);          // 0 to 1 s: the layered note
    midi.note(0, 4 * kBeat, 4 * kBeat, 62, 127);  // 2 to 4 s: held...
    midi.note(0, 6 * kBeat, 2 * kBeat, 64, 127);  // ...cut at 3 s by its group
    midi.note(0, 10 * kBeat, 2 * kBeat, 66, 127); // 5 to 6 s: bright
    midi.note(0, 14 * kBeat, 2 * kBeat, 68, 127); // 7 to 8 s: the same through the filter
    const std::string song = writeSong(dir, midi);
    const std::string out = dir.file("out.wav");
    const ToolResult result = runTool({"render", path, song, "-o", out});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const Sound sound = readStereo(out);
    // Both layers sound, each placed hard on its side by its own pan.
    EXPECT_NEAR(sound.frequency(0, 0.1, 0.9), 441.0, 5.0);
    EXPECT_NEAR(sound.frequency(1, 0.1, 0.9), 630.0, 5.0);
    EXPECT_NEAR(sound.rms(0, 0.2, 0.8), sound.rms(1, 0.2, 0.8), 0.02 * sound.rms(0, 0.2, 0.8));
    // The open note sounds until the closed one of its group cuts it.
    EXPECT_GT(sound.rms(0, 2.5, 2.9), 0.05);
    EXPECT_LT(sound.rms(0, 3.1, 3.9), 1e-4);
    EXPECT_GT(sound.rms(1, 3.1, 3.5), 0.05);
    // Three octaves above a 300 Hz cutoff, about 36 dB down.
    const double bright = sound.rms(0, 5.2, 5.8);
    const double filtered = sound.rms(0, 7.2, 7.8);
    EXPECT_GT(bright, 0.05);
    EXPECT_NEAR(20.0 * std::log10(filtered / bright), -36.0, 3.0);
    // Constant power: hard on one side is 3 dB above the centre, the channel's
    // pan and the sample's adding up rather than applied twice.
    EXPECT_NEAR(20.0 * std::log10(sound.rms(0, 0.2, 0.8) / bright), 3.01, 0.2);
}

TEST(RenderSong, TheToolPlaysWhatTheSynthPlaysForAHost) {
    TempDir dir;
    const std::string bank = writeBank(dir, "Same", false, {{57, 220.5}, {69, 441.0}});
    const std::string kit = writeBank(dir, "SameKit", true, {{38, 1050.0}});
    struct Timed {
        uint32_t tick;
        uint8_t status, data1, data2;
    };
    // In time order, note-offs first at a tick, as the writer orders them.
    const std::vector<Timed> events = {
        {0, 0xB0, 10, 20},    {0, 0x90, 69, 100},  {0, 0x99, 38, 120},    {10, 0x89, 38, 0},
        {240, 0xB1, 64, 127}, {240, 0x91, 57, 80}, {480, 0x81, 57, 0},    {700, 0xE0, 0, 0x50},
        {960, 0x80, 69, 0},   {1000, 0xB1, 64, 0}, {1200, 0x91, 69, 127}, {1440, 0x81, 69, 0}};
    MidiWriter midi;
    for (const Timed& e : events) {
        midi.event(e.tick, {e.status, e.data1, e.data2});
    }
    const std::string out = dir.file("out.wav");
    const ToolResult result =
        runTool({"render", bank, writeSong(dir, midi), "--drums", kit, "-o", out, "--float", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const Sound tool = readStereo(out);

    // A host: blocks of 256 frames, the events at their offsets, the release of
    // everything at the song's end.
    ox::synth::BankRules rules;
    rules.everything = bank;
    rules.drums = kit;
    ox::synth::BankChooser banks(rules);
    ox::synth::Synth synth(banks, {});
    for (int channel : {0, 1, 9}) {
        ASSERT_TRUE(synth.prepare(channel, 0, 0, 0));
    }
    const auto frameOf = [](uint32_t tick) { return std::llround(tick / 960.0 * kRate); };
    const int64_t end = frameOf(events.back().tick);
    std::vector<float> host;
    size_t next = 0;
    for (int64_t frame = 0; frame < end || synth.sounding();) {
        const int64_t count = frame < end ? std::min<int64_t>(256, end - frame) : 256;
        std::vector<ox::synth::MidiEvent> block;
        for (; next < events.size() && frameOf(events[next].tick) < frame + count; ++next) {
            const Timed& e = events[next];
            block.push_back({uint32_t(frameOf(e.tick) - frame), e.status, e.data1, e.data2});
        }
        host.resize(host.size() + size_t(count) * 2);
        synth.process(&host[host.size() - size_t(count) * 2], int(count), block.data(),
                      block.size());
        frame += count;
        if (frame == end) {
            synth.releaseAll();
        }
    }
    ASSERT_GE(host.size(), tool.samples.size());
    ASSERT_GT(tool.samples.size(), size_t(end) * 2);
    float most = 0.0f;
    for (size_t i = 0; i < host.size(); ++i) {
        most =
            std::max(most, std::fabs(host[i] - (i < tool.samples.size() ? tool.samples[i] : 0.0f)));
    }
    EXPECT_LT(most, 1e-6f);
}
