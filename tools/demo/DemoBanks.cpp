#include "demo/DemoBanks.h"

#include "demo/Synth.h"
#include "write/XmlText.h"

#include "write/ArchiveWriter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace fs = std::filesystem;

namespace oxsf::demo {

namespace {

/// One sample of a demo bank: where it sits in the description and how to make it.
struct SampleJob {
    std::string attack, technique, variation;
    int midi = 60;
    int string = 0; ///< counted from 1; 0 for none
    std::string dynamic;
    std::string file;
    FileFormat format = FileFormat::Wav;
    std::function<Audio()> make;
    bool loop = false;
    double loopFrequency = 0.0; ///< loops span whole periods of this frequency
    float peak = 0.0f;          ///< filled when written
    std::string
        sampleAttributes; ///< further attributes of its Sample element, each with a leading blank
    std::string waveAttributes; ///< the same for its Wave element
};

double frequencyOf(double midi) {
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

const char* extensionOf(FileFormat format) {
    switch (format) {
    case FileFormat::Wav:
        return ".wav";
    case FileFormat::Flac:
        return ".flac";
    case FileFormat::Ogg:
        return ".ogg";
    }
    return "";
}

/// Synthesizes and writes every job into `samplesDir`, on a few threads.
void renderJobs(std::vector<SampleJob>& jobs, const fs::path& samplesDir) {
    std::atomic<size_t> next{0};
    std::mutex errorLock;
    std::string error;
    const auto work = [&] {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            SampleJob& job = jobs[i];
            const Audio audio = job.make();
            job.peak = audio.peak();
            int64_t loopStart = -1;
            int64_t loopEnd = -1;
            if (job.loop) {
                // Loop a stretch of whole periods in the late, steady part of the tone.
                loopStart = audio.frames() * 6 / 10;
                loopEnd = loopStart +
                          loopLengthFor(job.loopFrequency, audio.sampleRate / 8, audio.sampleRate);
            }
            const std::string message =
                writeAudio((samplesDir / job.file).string(), job.format, audio, loopStart, loopEnd);
            if (!message.empty()) {
                std::lock_guard<std::mutex> lock(errorLock);
                error = (samplesDir / job.file).string() + ": " + message;
            }
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& thread : pool) {
        thread.join();
    }
    if (!error.empty()) {
        throw std::runtime_error(error);
    }
}

struct BankIdentity {
    std::string id, type, name, description, velocity, tuning;
};

/// Samples.xml for `jobs`, grouped into nested Node elements by attack,
/// technique and variation in the order the jobs first name them.
std::string describe(const BankIdentity& bank, const std::vector<SampleJob>& jobs) {
    std::vector<std::string> attacks;
    std::map<std::string, std::vector<std::string>> techniques;
    std::map<std::string, std::vector<std::string>> variations;
    const auto remember = [](std::vector<std::string>& list, const std::string& word) {
        if (std::find(list.begin(), list.end(), word) == list.end()) {
            list.push_back(word);
        }
    };
    for (const SampleJob& job : jobs) {
        remember(attacks, job.attack);
        remember(techniques[job.attack], job.technique);
        remember(variations[job.attack + "/" + job.technique], job.variation);
    }

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<SoundBank id=\"" + escapeXml(bank.id) + "\" type=\"" + escapeXml(bank.type) +
           "\" name=\"" + escapeXml(bank.name) + "\"\n           description=\"" +
           escapeXml(bank.description) + "\" velocity=\"" + bank.velocity + "\"";
    if (!bank.tuning.empty()) {
        xml += " tuning=\"" + bank.tuning + "\"";
    }
    xml += ">\n  <SamplesTree class=\"" + escapeXml(bank.type) + "\">\n";
    for (const std::string& attack : attacks) {
        xml += "    <Node class=\"" + attack + "\">\n";
        for (const std::string& technique : techniques[attack]) {
            xml += "      <Node class=\"" + technique + "\">\n";
            for (const std::string& variation : variations[attack + "/" + technique]) {
                xml += "        <Node class=\"" + variation + "\">\n          <Samples>\n";
                for (const SampleJob& job : jobs) {
                    if (job.attack != attack || job.technique != technique ||
                        job.variation != variation) {
                        continue;
                    }
                    xml += "            <Sample midi=\"" + std::to_string(job.midi) + "\"";
                    if (job.string > 0) {
                        xml += " string=\"" + std::to_string(job.string) + "\"";
                    }
                    char peak[32];
                    std::snprintf(peak, sizeof peak, "%.3f", job.peak);
                    xml += " dynamic=\"" + job.dynamic + "\"" + job.sampleAttributes +
                           ">\n              <Wave file=\"" + escapeXml(job.file) + "\" peak=\"" +
                           peak + "\" velocity=\"" + (job.dynamic == "F" ? "100" : "64") + "\"" +
                           job.waveAttributes + "/>\n            </Sample>\n";
                }
                xml += "          </Samples>\n        </Node>\n";
            }
            xml += "      </Node>\n";
        }
        xml += "    </Node>\n";
    }
    xml += "  </SamplesTree>\n</SoundBank>\n";
    return xml;
}

int writeBank(const std::string& dir, const BankIdentity& identity, std::vector<SampleJob> jobs) {
    const fs::path root(dir);
    fs::create_directories(root / "Samples");
    renderJobs(jobs, root / "Samples");
    std::ofstream xml(root / "Samples.xml", std::ios::binary);
    xml << describe(identity, jobs);
    if (!xml.flush()) {
        throw std::runtime_error((root / "Samples.xml").string() + ": cannot write");
    }
    return static_cast<int>(jobs.size());
}

std::string twoDigits(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

constexpr int kGuitarTuning[6] = {64, 59, 55, 50, 45, 40}; // strings 1 to 6

/// How a played (not harmonic) guitar layer is plucked and stored.
struct PluckStyle {
    const char* attack;
    const char* technique;
    const char* variation;
    const char* label;
    FileFormat format;
    double seconds;
    double pickPosition;
    double softBrightness, loudBrightness;
};

void addPlucked(std::vector<SampleJob>& jobs, const PluckStyle& style, int string, int fret,
                const std::string& dynamic, bool loop) {
    const bool loud = dynamic == "F";
    const int midi = kGuitarTuning[string - 1] + fret;
    SampleJob job;
    job.attack = style.attack;
    job.technique = style.technique;
    job.variation = style.variation;
    job.midi = midi;
    job.string = string;
    job.dynamic = dynamic;
    job.format = style.format;
    job.file = std::string("Gtr-") + style.label + "-S" + std::to_string(string) + "-F" +
               twoDigits(fret) + "-" + dynamic + extensionOf(style.format);
    PluckSettings p;
    p.frequency = frequencyOf(midi);
    p.seconds = style.seconds;
    p.decay = std::max(0.8, 2.6 - (midi - 40) * 0.05);
    p.brightness = loud ? style.loudBrightness : style.softBrightness;
    // Loud plucks peak just under full scale at the bank's velocity (+1.7 dB).
    p.amplitude = loud ? 0.78 : 0.45;
    p.pickPosition = style.pickPosition;
    p.seed = static_cast<uint32_t>(jobs.size() * 2654435761u + 17u);
    job.make = [p] { return pluck(p); };
    job.loop = loop;
    job.loopFrequency = p.frequency;
    jobs.push_back(std::move(job));
}

void addPlayedLayers(std::vector<SampleJob>& jobs) {
    const PluckStyle pickDown{"pick", "sustain", "down", "Pick-Down", FileFormat::Flac,
                              1.2,    0.15,      0.45,   0.85};
    const PluckStyle pickUp{"pick", "sustain", "up", "Pick-Up", FileFormat::Ogg,
                            1.0,    0.22,      0.5,  0.75};
    const PluckStyle index{"finger", "sustain", "index", "Fng-Index", FileFormat::Wav,
                           1.0,      0.3,       0.3,     0.55};
    const PluckStyle thumb{"finger", "sustain", "thumb", "Fng-Thumb", FileFormat::Wav,
                           1.0,      0.35,      0.2,     0.4};
    const PluckStyle middle{"finger", "sustain", "middle", "Fng-Middle", FileFormat::Ogg,
                            1.0,      0.3,       0.3,      0.55};

    for (const char* dynamic : {"MP", "F"}) {
        const bool loud = std::string(dynamic) == "F";
        // A request by MIDI pitch alone prefers the lowest string at any
        // distance, so that string is sampled every three frets up to the
        // highest note of the node (string 1, fret 10), further than a real
        // neck reaches: no such request is transposed by more than a semitone.
        // The other strings every five frets.
        for (int fret = 0; fret <= 33; fret += 3) {
            addPlucked(jobs, pickDown, 6, fret, dynamic, loud);
        }
        for (int string = 1; string <= 5; ++string) {
            for (int fret : {0, 5, 10}) {
                addPlucked(jobs, pickDown, string, fret, dynamic, loud);
            }
        }
        for (int string = 1; string <= 3; ++string) {
            for (int fret : {0, 5}) {
                addPlucked(jobs, index, string, fret, dynamic, loud);
            }
            addPlucked(jobs, middle, string, 3, dynamic, false);
        }
        for (int string = 4; string <= 6; ++string) {
            for (int fret : {0, 5}) {
                addPlucked(jobs, thumb, string, fret, dynamic, false);
            }
        }
    }
    for (int string = 1; string <= 6; ++string) {
        for (int fret : {0, 7}) {
            addPlucked(jobs, pickUp, string, fret, "F", false);
        }
    }
}

// Natural harmonics are described at the fret they are touched at; the
// library re-pitches them to the note they sound (12th fret: an octave up,
// 7th fret: an octave and a fifth up), which is what is synthesized here.
void addHarmonics(std::vector<SampleJob>& jobs) {
    for (int string = 1; string <= 6; ++string) {
        for (auto [variation, fret, sounding, format] :
             {std::tuple{"12th", 12, 12, FileFormat::Wav},
              std::tuple{"7th", 7, 19, FileFormat::Flac}}) {
            SampleJob job;
            job.attack = "harmonic";
            job.technique = "natural";
            job.variation = variation;
            job.midi = kGuitarTuning[string - 1] + fret;
            job.string = string;
            job.dynamic = "MP";
            job.format = format;
            job.file = std::string("Gtr-Harm-") + variation + "-S" + std::to_string(string) + "-F" +
                       twoDigits(fret) + "-MP" + extensionOf(format);
            PluckSettings p;
            p.frequency = frequencyOf(kGuitarTuning[string - 1] + sounding);
            p.seconds = 1.5;
            p.decay = 3.0;
            p.brightness = 0.1;
            p.amplitude = 0.5;
            p.pickPosition = 0.5;
            p.seed = static_cast<uint32_t>(1000 + jobs.size());
            job.make = [p] { return pluck(p); };
            job.loop = format == FileFormat::Flac;
            job.loopFrequency = p.frequency;
            jobs.push_back(std::move(job));
        }
    }
}

} // namespace

int writeGuitarBank(const std::string& dir) {
    std::vector<SampleJob> jobs;
    addPlayedLayers(jobs);
    addHarmonics(jobs);
    const BankIdentity identity{"oxsf-demo-guitar",
                                "guitar",
                                "OXSF Demo Guitar",
                                "A plucked-string guitar synthesized by oxsf demo",
                                "0.8",
                                "64 59 55 50 45 40"};
    return writeBank(dir, identity, std::move(jobs));
}

int writeDrumKit(const std::string& dir) {
    std::vector<SampleJob> jobs;
    const auto add = [&](const char* attack, const char* variation, int midi, Drum drum,
                         const std::string& dynamic, FileFormat format, const std::string& label) {
        const bool loud = dynamic == "F";
        SampleJob job;
        job.attack = attack;
        job.technique = "hit";
        job.variation = variation;
        job.midi = midi;
        job.dynamic = dynamic;
        job.format = format;
        job.file = "Drm-" + label + "-" + dynamic + extensionOf(format);
        const uint32_t seed = static_cast<uint32_t>(jobs.size() + 1);
        job.make = [drum, loud, seed] {
            return oxsf::demo::drum(drum, loud ? 0.9 : 0.45, loud ? 0.9 : 0.4, seed);
        };
        jobs.push_back(std::move(job));
    };
    for (const char* dynamic : {"MP", "F"}) {
        add("stick", "hit", 36, Drum::Kick, dynamic, FileFormat::Wav, "Kick");
        add("stick", "hit", 38, Drum::Snare, dynamic, FileFormat::Flac, "Snare");
        add("stick", "hit", 42, Drum::ClosedHat, dynamic, FileFormat::Ogg, "HatClosed");
        add("stick", "hit", 46, Drum::OpenHat, dynamic, FileFormat::Ogg, "HatOpen");
        add("stick", "hit", 49, Drum::Crash, dynamic, FileFormat::Flac, "Crash");
        add("stick", "rimshot", 38, Drum::Rimshot, dynamic, FileFormat::Wav, "SnareRim");
    }
    // A kit as a drummer hears it from the stool: the hi-hat to the left, the
    // crash to the right, and the closed hat cutting the open one.
    for (SampleJob& job : jobs) {
        if (job.midi == 42 || job.midi == 46) {
            job.sampleAttributes = " chokeGroup=\"1\"";
            job.waveAttributes = " pan=\"-0.4\"";
        } else if (job.midi == 49) {
            job.waveAttributes = " pan=\"0.35\"";
        }
    }
    add("stick", "edge", 49, Drum::CrashEdge, "F", FileFormat::Ogg, "CrashEdge");
    add("hand", "hit", 45, Drum::HandLow, "F", FileFormat::Wav, "HandLow");
    add("hand", "hit", 50, Drum::HandHigh, "F", FileFormat::Wav, "HandHigh");
    add("hand", "slap", 50, Drum::Slap, "F", FileFormat::Flac, "HandSlap");

    const BankIdentity identity{"oxsf-demo-drums",
                                "drum",
                                "OXSF Demo Drums",
                                "A small drum kit synthesized by oxsf demo",
                                "0.75",
                                ""};
    return writeBank(dir, identity, std::move(jobs));
}

DemoBanks writeDemoBanks(const std::string& outDir) {
    const fs::path out(outDir);
    DemoBanks banks;
    banks.guitar = (out / "DemoGuitar").string();
    banks.drums = (out / "DemoDrums.tq7bank").string();
    // Start from scratch so samples of an older run never linger in the bank.
    fs::remove_all(banks.guitar);
    banks.guitarSamples = writeGuitarBank(banks.guitar);

    // The kit is written as a directory bank first, then packed into one archive.
    const fs::path scratch = out / ".DemoDrums-source";
    fs::remove_all(scratch);
    banks.drumSamples = writeDrumKit(scratch.string());
    archive::packDirectoryBank(scratch.string(), banks.drums);
    fs::remove_all(scratch);
    return banks;
}

const std::vector<PhraseNote>& guitarPhrase() {
    // E minor pentatonic up and down, an eighth note apart at 120 bpm.
    static const std::vector<PhraseNote> phrase = {
        {52, 0.00, 0.35, 0.9}, {55, 0.25, 0.35, 0.9}, {57, 0.50, 0.35, 0.9}, {59, 0.75, 0.35, 0.9},
        {62, 1.00, 0.35, 0.9}, {64, 1.25, 0.60, 1.0}, {62, 1.75, 0.35, 0.9}, {59, 2.00, 0.35, 0.9},
        {57, 2.25, 0.35, 0.9}, {52, 2.50, 1.00, 1.0},
    };
    return phrase;
}

const std::vector<PhraseNote>& drumPhrase() {
    static const std::vector<PhraseNote> phrase = {
        {36, 0.00, 0.5, 0.8},  {49, 0.00, 1.2, 0.5}, {42, 0.25, 0.2, 0.5}, {38, 0.50, 0.4, 0.7},
        {42, 0.75, 0.2, 0.5},  {36, 1.00, 0.5, 0.8}, {36, 1.25, 0.5, 0.7}, {38, 1.50, 0.4, 0.7},
        {46, 1.75, 0.45, 0.5}, {36, 2.00, 0.5, 0.8}, {42, 2.25, 0.2, 0.5}, {38, 2.50, 0.4, 0.7},
        {49, 2.50, 1.4, 0.5},
    };
    return phrase;
}

} // namespace oxsf::demo
