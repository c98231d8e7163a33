#include "BenchBanks.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include "demo/DemoBanks.h"
#include "write/ArchiveWriter.h"

#include <malloc.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace oxsf::bench {

namespace {

// Open strings 1 to 6 of a guitar, as the description numbers them.
constexpr int kTuning[6] = {64, 59, 55, 50, 45, 40};
constexpr const char* kTuningText = "64 59 55 50 45 40";
// Bumped whenever the generated content changes, so stale folders are rebuilt.
constexpr const char* kStamp = "complete-v1";

/// One layer of the generated description: its class, its sample slot (or -1)
/// and its sub-layers.
struct LayerSpec {
    const char* className;
    int slot;
    std::vector<LayerSpec> children;
};

// Slots: 0 down, 1 up, 2 index, 3 thumb, 4 middle, 5 pizzicato, 6-9 harmonic
// 5th/7th/9th/12th, 10 pop, 11 slap, 12 blow.
const char* const kSlotNames[13] = {"PckDn",  "PckUp", "FngIdx", "FngThm", "FngMid",
                                    "FngPzz", "Hrm5",  "Hrm7",   "Hrm9",   "Hrm12",
                                    "Pop",    "Slp",   "Blw"};

const LayerSpec& layout() {
    static const LayerSpec top{
        "BenchGuitar",
        -1,
        {
            {"pick", -1, {{"sustain", -1, {{"down", 0, {}}, {"up", 1, {}}}}}},
            {"finger",
             -1,
             {{"sustain", -1, {{"index", 2, {}}, {"thumb", 3, {}}, {"middle", 4, {}}}},
              {"pizzicato", 5, {}}}},
            {"harmonic",
             -1,
             {{"natural", -1, {{"5th", 6, {}}, {"7th", 7, {}}, {"9th", 8, {}}, {"12th", 9, {}}}}}},
            {"pop", -1, {{"sustain", -1, {{"variationa", 10, {}}}}}},
            {"slap", -1, {{"sustain", -1, {{"variationa", 11, {}}}}}},
            {"blow", -1, {{"sustain", -1, {{"novibrato", 12, {}}}}}},
        }};
    return top;
}

/// Samples per slot: a tenth of the bank per group, the harmonic tenth split
/// in four, the remainder to the last slot.
std::vector<int> slotCounts(int samples) {
    const int tenth = samples / 10;
    std::vector<int> counts(13, tenth);
    counts[6] = counts[7] = counts[8] = tenth / 4;
    counts[9] = tenth - 3 * (tenth / 4);
    int used = 0;
    for (int i = 0; i < 12; ++i) {
        used += counts[i];
    }
    counts[12] = samples - used;
    return counts;
}

void indent(std::string& out, int depth) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
}

/// Appends the "Sample" elements of one slot. `serial` numbers samples across
/// the bank so that every file name is unique.
void writeSlot(std::string& out, int depth, int slot, int count, int& serial,
               std::vector<std::string>* files) {
    static const char* const dynamics[8] = {"pp", "P", "mp", "MF", "f", "FF", "fff", "Mf"};
    static const char* const options[5] = {"", "", "slow", "fast", "shs"};
    char buffer[160];
    for (int i = 0; i < count; ++i, ++serial) {
        const int string = 1 + i % 6;
        const int midi = std::min(kTuning[string - 1] + (i / 6) % 27, 90);
        const char* dynamic = dynamics[(i / 162) % 8];
        const char* option = options[(i / 1296) % 5];
        indent(out, depth);
        std::snprintf(buffer, sizeof buffer, "<Sample midi=\"%d\" string=\"%d\" dynamic=\"%s\"",
                      midi, string, dynamic);
        out += buffer;
        if (*option) {
            std::snprintf(buffer, sizeof buffer, " option=\"%s\"", option);
            out += buffer;
        }
        out += ">\n";
        const int waves = i % 3 == 0 ? 2 : 1;
        for (int w = 0; w < waves; ++w) {
            const char* pickup = w == 0 ? "neck" : "bridge";
            std::snprintf(buffer, sizeof buffer, "Bench-%s-%dE%02d-%s-%06d-%s.flac",
                          kSlotNames[slot], string, midi, dynamic, serial, pickup);
            const std::string file = buffer;
            if (files) {
                files->push_back(file);
            }
            indent(out, depth + 1);
            std::snprintf(buffer, sizeof buffer, "<Wave file=\"%s\" peak=\"0.%04d\" pickup=\"%s\"",
                          file.c_str(), 5000 + (serial * 37) % 4999, pickup);
            out += buffer;
            if (i % 4 == 1) {
                std::snprintf(buffer, sizeof buffer, " repitch=\"%d.%02d\"", -(serial % 7),
                              (serial * 13) % 100);
                out += buffer;
            }
            if (i % 5 == 0) {
                out += " velocity=\"100\"";
            }
            if (i % 2 == 0) {
                std::snprintf(buffer, sizeof buffer, " ratio=\"1.00%02d\"", serial % 100);
                out += buffer;
            }
            if (i % 3 == 1) {
                out += " gain=\"-1.5\"";
            }
            out += "/>\n";
        }
        indent(out, depth);
        out += "</Sample>\n";
    }
}

void writeLayer(std::string& out, const LayerSpec& layer, int depth, const std::vector<int>& counts,
                int& serial, std::vector<std::string>* files) {
    indent(out, depth);
    out += depth == 1 ? "<SamplesTree class=\"" : "<Node class=\"";
    out += layer.className;
    out += "\">\n";
    for (const LayerSpec& child : layer.children) {
        writeLayer(out, child, depth + 1, counts, serial, files);
    }
    if (layer.slot >= 0) {
        indent(out, depth + 1);
        out += "<Samples>\n";
        writeSlot(out, depth + 2, layer.slot, counts[static_cast<size_t>(layer.slot)], serial,
                  files);
        indent(out, depth + 1);
        out += "</Samples>\n";
    }
    indent(out, depth);
    out += depth == 1 ? "</SamplesTree>\n" : "</Node>\n";
}

std::string describe(int samples, const std::string& id, std::vector<std::string>* files) {
    std::string out;
    out.reserve(static_cast<size_t>(samples) * 320 + 1024);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<SoundBank id=\"" + id + "\" type=\"electricGuitar\" name=\"" + id +
           "\" description=\"Generated benchmark bank\" velocity=\"0.72\" tuning=\"" + kTuningText +
           "\">\n";
    int serial = 0;
    writeLayer(out, layout(), 1, slotCounts(samples), serial, files);
    out += "</SoundBank>\n";
    return out;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

/// A directory bank of `samples` generated samples. The wave files stay
/// absent: opening and searching never read them.
void writeDescriptionBanks(const BenchBanks& banks, int samples) {
    std::vector<std::string> files;
    const std::string xml = describe(samples, "Bench-" + std::to_string(samples), &files);
    const fs::path dir = banks.directoryBank(samples);
    fs::create_directories(dir / "Samples");
    writeText(dir / "Samples.xml", xml);

    std::vector<archive::ArchiveInput> entries;
    entries.reserve(files.size() + 1);
    entries.push_back(archive::ArchiveInput::fromBytes("Samples.xml", xml));
    for (const std::string& file : files) {
        entries.push_back(archive::ArchiveInput::fromBytes(file, "fLaC-placeholder"));
    }
    archive::writeArchive(banks.archiveBank(samples), entries);
}

/// The small bank of the audio benchmarks: every sample plays the tone file.
void writeAudioBank(const BenchBanks& banks) {
    const fs::path dir = banks.audioBank();
    fs::create_directories(dir / "Samples");
    std::string xml = "<?xml version=\"1.0\"?>\n<SoundBank id=\"Bench-Audio\" type=\"guitar\" "
                      "name=\"Bench Audio\" tuning=\"64 59 55 50 45 40\">\n"
                      "  <SamplesTree class=\"BenchAudio\">\n"
                      "    <Node class=\"pick\"><Node class=\"sustain\"><Node class=\"down\">\n"
                      "      <Samples>\n";
    for (int midi = 40; midi < 76; ++midi) {
        const std::string file = "Tone-" + std::to_string(midi) + ".flac";
        xml += "        <Sample midi=\"" + std::to_string(midi) +
               "\" string=\"6\" dynamic=\"f\"><Wave file=\"" + file +
               "\" pickup=\"neck\" gain=\"-3\"/></Sample>\n";
        fs::create_symlink(fs::absolute(banks.toneFile()), dir / "Samples" / file);
    }
    xml += "      </Samples>\n    </Node></Node></Node>\n  </SamplesTree>\n</SoundBank>\n";
    writeText(dir / "Samples.xml", xml);
}

/// Puts the tone file where the 10,000-sample bank looks for its sample of
/// kAudioMidi, so the first note can be measured on a large description too.
void linkToneIntoBank(const BenchBanks& banks, int samples) {
    ox::soundfont::SoundFontV6 bank(banks.directoryBank(samples));
    bank.initialize();
    const auto* sample = bank.sampleTree().findSampleByMidi(kAudioMidi, 10);
    if (!sample || sample->files.empty()) {
        throw std::runtime_error("generated bank has no sample for the audio benchmarks");
    }
    const fs::path target =
        fs::path(banks.directoryBank(samples)) / "Samples" / sample->files.begin()->second;
    fs::create_symlink(fs::absolute(banks.toneFile()), target);
}

} // namespace

std::string pitchedDescription(int samples, const std::string& id) {
    return describe(samples, id, nullptr);
}

std::vector<std::string> waveFiles(int samples) {
    std::vector<std::string> files;
    describe(samples, "", &files);
    return files;
}

void writeToneFlac(const std::string& path, int seconds, int channels, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    }
    std::mt19937 random(12345);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    const double frequency = 196.0;
    const int64_t frames = int64_t(seconds) * rate;
    std::vector<float> chunk(4096 * static_cast<size_t>(channels));
    for (int64_t start = 0; start < frames; start += 4096) {
        const int64_t count = std::min<int64_t>(4096, frames - start);
        for (int64_t j = 0; j < count; ++j) {
            const double t = double(start + j) / rate;
            const double envelope = std::exp(-t * 0.4);
            for (int c = 0; c < channels; ++c) {
                double v = 0.0;
                for (int h = 1; h <= 6; ++h) {
                    v += std::sin(2.0 * M_PI * frequency * h * t * (1.0 + 0.0005 * c)) / h;
                }
                chunk[static_cast<size_t>(j * channels + c)] =
                    static_cast<float>(0.35 * envelope * v) + noise(random);
            }
        }
        sf_writef_float(file, chunk.data(), count);
    }
    sf_close(file);
}

std::string BenchBanks::directoryBank(int samples) const {
    return root + "/Bench" + std::to_string(samples);
}
std::string BenchBanks::archiveBank(int samples) const {
    return root + "/Bench" + std::to_string(samples) + ".tq7bank";
}
std::string BenchBanks::toneFile() const {
    return root + "/Tone10s.flac";
}
std::string BenchBanks::audioBank() const {
    return root + "/BenchAudio";
}
std::string BenchBanks::demoGuitar() const {
    return root + "/demo/DemoGuitar";
}
std::string BenchBanks::demoDrums() const {
    return root + "/demo/DemoDrums.tq7bank";
}

void generate(const std::string& root) {
    const fs::path stamp = fs::path(root) / kStamp;
    if (fs::exists(stamp)) {
        return;
    }
    fs::remove_all(root);
    fs::create_directories(root);
    const BenchBanks banks{root};
    writeToneFlac(banks.toneFile(), kToneSeconds, kToneChannels, kToneRate);
    for (int samples : descriptionSizes()) {
        writeDescriptionBanks(banks, samples);
    }
    writeAudioBank(banks);
    linkToneIntoBank(banks, 10000);
    demo::writeDemoBanks(root + "/demo");
    writeText(stamp, "");
}

void steadyAllocator() {
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

const BenchBanks& benchBanks() {
    static const BenchBanks banks = [] {
        steadyAllocator();
        const char* env = std::getenv("OXSF_BENCH_BANKS");
        BenchBanks b{env && *env ? std::string(env)
                                 : (fs::temp_directory_path() / "oxsf-bench-banks").string()};
        generate(b.root);
        return b;
    }();
    return banks;
}

std::vector<char> readFile(const std::string& path) {
    std::vector<char> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return bytes;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    bytes.reserve(static_cast<size_t>(std::max(size, 0L)) + 1);
    bytes.resize(static_cast<size_t>(std::max(size, 0L)));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    bytes.push_back('\0');
    return bytes;
}

} // namespace oxsf::bench
