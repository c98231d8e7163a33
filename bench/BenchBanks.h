#pragma once

// The banks the benchmarks measure, generated on demand: nothing large is
// checked in. Every bench binary finds them through benchBanks(); `make bench`
// generates them first with oxsf_bench_banks and passes the folder in
// OXSF_BENCH_BANKS.

#include <string>
#include <vector>

namespace oxsf::bench {

/// Sample counts of the generated descriptions.
inline const std::vector<int>& descriptionSizes() {
    static const std::vector<int> sizes{1000, 10000, 50000};
    return sizes;
}

/// The audio every first-note and playing benchmark decodes.
constexpr int kToneSeconds = 10;
constexpr int kToneChannels = 2;
constexpr int kToneRate = 44100;

/// The pitch every audio benchmark asks for.
constexpr int kAudioMidi = 60;

/// Text of a pitched bank description with `samples` samples in ten layer
/// groups (pick/sustain/down, pick/sustain/up, finger/sustain/index, thumb and
/// middle, finger/pizzicato, harmonic/natural/5th..12th, pop, slap and
/// blow), a tenth of them in each; the pick/sustain/down group (the node
/// findSampleByMidi addresses) holds exactly samples / 10. Strings 1-6, midi
/// 40-90, mixed-case dynamics, options, one or two waves with pickups and
/// gain/repitch/ratio attributes on some. Wave files are named
/// "<prefix><group>-<n>-<pickup>.flac".
std::string pitchedDescription(int samples, const std::string& id);

/// Every wave file name a description from pitchedDescription() refers to.
std::vector<std::string> waveFiles(int samples);

/// Writes a 16-bit FLAC of `seconds` of a decaying harmonic tone with a little
/// noise (so that it compresses like a recording, not like a pure sine).
void writeToneFlac(const std::string& path, int seconds, int channels, int rate);

/// Layout of the generated folder.
struct BenchBanks {
    std::string root;

    /// Directory bank of a generated description (Samples.xml, Samples/).
    std::string directoryBank(int samples) const;
    /// The same description packed as an archive bank, with one small entry
    /// per wave file so that the index is as long as a real one.
    std::string archiveBank(int samples) const;
    /// The 10-second stereo 44.1 kHz 16-bit FLAC file.
    std::string toneFile() const;
    /// A small pitched directory bank (36 samples, pick/sustain/down, midi
    /// 40-75) whose every wave is the tone file.
    std::string audioBank() const;
    /// The demo banks of the oxsf tool (a few dozen samples each).
    std::string demoGuitar() const;
    std::string demoDrums() const;
};

/// Writes every bank under `root` unless a complete set is already there.
void generate(const std::string& root);

/// Keeps freed memory in the process instead of handing it back to the
/// system, as a long-running host's allocator does once warm. Without it every
/// iteration that frees a few megabytes pays for faulting them in again, which
/// would swamp what the benchmarks compare.
void steadyAllocator();

/// The generated banks: $OXSF_BENCH_BANKS when set (generated there if
/// missing), otherwise a folder under the system's temporary directory. The
/// first call also applies steadyAllocator().
const BenchBanks& benchBanks();

/// Read-and-parse baseline helper: the whole file into a byte vector with a
/// terminating zero.
std::vector<char> readFile(const std::string& path);

} // namespace oxsf::bench
