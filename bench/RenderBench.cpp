// Rendering a song: `oxsf render` (the built tool, in a process of its own)
// plays a generated dense 16-channel General MIDI song through banks imported
// from a generated soundfont, into a 16-bit WAV file. Each run reports how many
// times faster than real time the render went (the child's CPU time) and its
// peak resident memory; the same song at 1 and at 10 minutes shows that memory
// does not grow with the song's length.
#include "BenchBanks.h"

#include <demo/MidiWriter.h>
#include <demo/SoundFontWriter.h>
#include <ox/import/Import.h>

#include <benchmark/benchmark.h>

#include <QtGlobal>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kBeatTicks = 480; // at 120 bpm, half a second

/// The banks of every preset of the generated soundfont, imported once.
const std::string& instruments() {
    static const std::string folder = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        const std::string root = oxsf::bench::benchBanks().root;
        const std::string out = root + "/render-instruments";
        if (!fs::exists(out + "/instruments.json")) {
            const std::string font = root + "/render-gm.sf2";
            const std::string bytes = oxsf::demo::sf2Bytes(oxsf::demo::demoSoundFont(128));
            std::ofstream(font, std::ios::binary)
                .write(bytes.data(), std::streamsize(bytes.size()));
            ox::import::importSource(font, out);
        }
        return out;
    }();
    return folder;
}

/// A dense General MIDI song of `seconds`: drums on channel 10 (kick, snare,
/// eighth hi-hats, a crash every eight bars), and on each of the other 15
/// channels its own program, pan and notes a beat long (two at a time on most),
/// in a progression that moves every bar, so that up to 64 voices sound at once
/// with the releases. Channel 1 holds its chords with the sustain pedal through each
/// bar; channel 2 bends every other bar.
std::string songFile(int seconds) {
    const std::string path =
        oxsf::bench::benchBanks().root + "/render-song-" + std::to_string(seconds) + ".mid";
    if (fs::exists(path)) {
        return path;
    }
    oxsf::demo::MidiWriter midi(kBeatTicks);
    midi.tempo(0, 500000);
    const int beats = seconds * 2;
    const int roots[] = {48, 53, 55, 50, 45, 52, 47, 55};
    for (int channel = 0; channel < 16; ++channel) {
        midi.track();
        if (channel == 9) {
            for (int beat = 0; beat < beats; ++beat) {
                const uint32_t tick = uint32_t(beat) * kBeatTicks;
                midi.note(9, tick, 60, beat % 2 ? 38 : 36, 100);
                midi.note(9, tick, 60, 42, 70);
                midi.note(9, tick + kBeatTicks / 2, 60, beat % 8 == 7 ? 46 : 42, 60);
                if (beat % 32 == 0) {
                    midi.note(9, tick, 60, 49, 90);
                }
            }
            continue;
        }
        midi.program(channel, 0, channel * 8 % 128);
        midi.controller(channel, 0, 10, channel * 127 / 15);
        for (int beat = 0; beat < beats; ++beat) {
            const uint32_t tick = uint32_t(beat) * kBeatTicks;
            const int root = roots[beat / 4 % 8] + 12 * (channel % 3);
            const int velocity = 60 + (beat * 7 + channel * 13) % 60;
            midi.note(channel, tick, kBeatTicks - 40, root + channel % 5, velocity);
            if (channel % 4 != 3) {
                midi.note(channel, tick, kBeatTicks - 40, root + 7, velocity);
            }
            if (channel == 0 && beat % 4 == 0) {
                midi.controller(0, tick, 64, 127);
                midi.controller(0, tick + 4 * kBeatTicks - 10, 64, 0);
            }
            if (channel == 1 && beat % 8 == 4) {
                for (int step = 0; step <= 16; ++step) {
                    midi.bend(1, tick + uint32_t(step) * 30, step * 512 - (step == 16 ? 1 : 0));
                }
                midi.bend(1, tick + 4 * kBeatTicks - 1, 0);
            }
        }
    }
    const std::string bytes = midi.bytes();
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

/// The peak resident memory of a running process, in kB (0 once it has ended).
long peakMemory(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

/// Runs the tool with `args`, its output thrown away: its CPU time and its peak
/// memory. The peak is read from /proc while it runs, every 10 ms: the child's
/// rusage would count the memory of this process, which it starts as a copy of.
bool runTool(std::vector<std::string> args, rusage& usage, long& peakKb) {
    args.insert(args.begin(), OXSF_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const bool started =
        posix_spawn(&pid, OXSF_BINARY, &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) {
        return false;
    }
    int status = 0;
    peakKb = 0;
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        peakKb = std::max(peakKb, peakMemory(pid));
        usleep(10000);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_RenderSong(benchmark::State& state) {
    const int seconds = int(state.range(0));
    const std::string song = songFile(seconds);
    const std::string banks = instruments();
    const std::string out = oxsf::bench::benchBanks().root + "/render-out.wav";
    double cpu = 0.0;
    long peakKb = 0;
    for (auto _ : state) {
        rusage usage{};
        if (!runTool({"render", song, "--instruments", banks, "-o", out, "-q", "--gain", "-10"},
                     usage, peakKb)) {
            state.SkipWithError("oxsf render failed");
            return;
        }
        cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        state.SetIterationTime(cpu);
    }
    fs::remove(out);
    state.counters["times_real_time"] = seconds / cpu;
    state.counters["peak_rss_mb"] = double(peakKb) / 1024.0;
    state.counters["song_seconds"] = seconds;
}
BENCHMARK(BM_RenderSong)
    ->Arg(60)
    ->Arg(600)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
