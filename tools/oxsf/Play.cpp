// oxsf play: notes through a bank's sample players, into a sound file.

#include "BankLoader.h"
#include "Commands.h"
#include "Errors.h"
#include "Mixer.h"
#include "SoundWriter.h"
#include "Vocabulary.h"

#include <soundfont/SampleCoordinate.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace oxsf {

using namespace ox::soundfont;

namespace {

struct OutputOptions {
    std::string output;
    bool floatSamples = false;
    bool normalize = false;
    bool quiet = false;
    MixSettings mix;
};

struct PlayOptions {
    std::string bank;
    std::vector<std::string> notes;
    double length = 0.5;
    OutputOptions out;
};

std::optional<double> parseSeconds(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0.0) {
        return std::nullopt;
    }
    return value;
}

/// Sets the dynamic and gain a MIDI velocity (1-127) stands for.
void setVelocity(Note& note, int velocity) {
    note.dynamic = dynamicFromVelocity(velocity);
    note.gain = gainFromVelocity(velocity);
}

/// PITCH[@START[:LENGTH]][/VELOCITY]; a note without a start follows the previous
/// one, a note without a velocity plays at dynamic F and full gain.
Note parseNote(const std::string& text, double& cursor, double defaultLength) {
    const auto bad = [&text](const std::string& why) {
        return UsageError(fmt::format("note '{}': {} (expected PITCH[@START[:LENGTH]][/VELOCITY], "
                                      "e.g. C4, 60@0.5, F#3@1:2/90)",
                                      text, why));
    };
    const size_t slash = text.find('/');
    const std::string timed = text.substr(0, slash);
    const size_t at = timed.find('@');
    const auto pitch = parsePitch(timed.substr(0, at));
    if (!pitch) {
        throw bad("not a MIDI note (0-127 or a name like C4)");
    }
    Note note;
    note.midi = *pitch;
    note.start = cursor;
    note.length = defaultLength;
    if (slash != std::string::npos) {
        const std::string velocity = text.substr(slash + 1);
        char* end = nullptr;
        const long value = std::strtol(velocity.c_str(), &end, 10);
        if (velocity.empty() || *end != '\0' || value < 1 || value > 127) {
            throw bad("the velocity is not a number from 1 to 127");
        }
        setVelocity(note, static_cast<int>(value));
    }
    if (at != std::string::npos) {
        const std::string timing = timed.substr(at + 1);
        const size_t colon = timing.find(':');
        const auto start = parseSeconds(timing.substr(0, colon));
        if (!start) {
            throw bad("the start is not a number of seconds");
        }
        note.start = *start;
        if (colon != std::string::npos) {
            const auto length = parseSeconds(timing.substr(colon + 1));
            if (!length || *length <= 0.0) {
                throw bad("the length is not a positive number of seconds");
            }
            note.length = *length;
        }
    }
    cursor = note.start + note.length;
    return note;
}

void addOutputOptions(CLI::App* cmd, OutputOptions& out) {
    cmd->add_option("-o,--output", out.output, "Sound file to write: .wav, .flac or .ogg")
        ->required();
    cmd->add_flag("--float", out.floatSamples, "Write 32-bit float samples (default 16-bit)");
    cmd->add_flag("--normalize", out.normalize, "Scale the mix to a peak of -1 dBFS");
    cmd->add_option("--rate", out.mix.sampleRate, "Output sample rate in Hz")
        ->capture_default_str()
        ->check(CLI::Range(8000, 192000));
    cmd->add_option("--release", out.mix.release,
                    "Release after each note, in seconds, for samples whose bank gives no envelope")
        ->capture_default_str()
        ->check(CLI::Range(0.001, 10.0));
    addQualityOption(cmd, out.mix.highQuality);
    cmd->add_flag("-q,--quiet", out.quiet, "Print nothing but errors");
}

void reportOutput(const Mix& mix, const OutputOptions& out) {
    if (!out.quiet) {
        const double seconds = static_cast<double>(mix.frames()) / mix.sampleRate;
        const double peak = mix.peak * mix.scale;
        fmt::print("wrote {} ({:.2f} s, {} Hz, {} stereo, peak {:.1f} dBFS{})\n", out.output,
                   seconds, mix.sampleRate, out.floatSamples ? "float" : "16-bit",
                   peak > 0.0 ? 20.0 * std::log10(peak) : -INFINITY,
                   mix.scale < 1.0f && !out.normalize ? ", scaled down to avoid clipping" : "");
    }
}

void printReports(const std::vector<NoteReport>& reports) {
    for (const NoteReport& r : reports) {
        if (!r.found) {
            fmt::print("{:6.2f}s  {:<4} ({:>3})  no sample\n", r.note.start, pitchName(r.note.midi),
                       r.note.midi);
            continue;
        }
        const std::string layers =
            r.layers == 0 ? ""
                          : fmt::format(", with {} layer{}", r.layers, r.layers == 1 ? "" : "s");
        fmt::print("{:6.2f}s  {:<4} ({:>3})  {}  recorded at {} ({}), transposed {:+g}{}\n",
                   r.note.start, pitchName(r.note.midi), r.note.midi, r.file,
                   pitchName(r.recordedMidi), r.recordedMidi, r.transposition, layers);
    }
}

/// Says which notes stay silent; a render in which every note does is an error.
void checkFound(const std::vector<NoteReport>& reports, const std::string& bank) {
    size_t missing = 0;
    for (const NoteReport& r : reports) {
        missing += r.found ? 0 : 1;
    }
    if (!reports.empty() && missing == reports.size()) {
        throw ToolError(bank, "the bank has no sample for any of the notes");
    }
    if (missing > 0) {
        std::fprintf(stderr,
                     "oxsf: warning: %s: no sample for %zu of %zu notes; they stay silent\n",
                     bank.c_str(), missing, reports.size());
    }
}

void runPlay(PlayOptions& options) {
    std::vector<Note> notes;
    double cursor = 0.0;
    for (const std::string& text : options.notes) {
        notes.push_back(parseNote(text, cursor, options.length));
    }
    outputFormat(options.out.output, 16, options.out.floatSamples); // a usage error comes first
    SoundFontManager manager;
    const OpenedBank opened = openBank(manager, options.bank);
    for (Note& note : notes) {
        note.bank = opened.bank.get();
    }
    options.out.mix.normalize = options.out.normalize;
    std::vector<NoteReport> reports;
    const Mix mix = renderNotes(notes, options.out.mix, &reports);
    checkFound(reports, opened.path);
    writeMix(options.out.output, mix, options.out.floatSamples);
    if (!options.out.quiet) {
        printReports(reports);
    }
    reportOutput(mix, options.out);
}

} // namespace

void addQualityOption(CLI::App* cmd, bool& highQuality) {
    cmd->add_option_function<std::string>(
           "--quality", [&highQuality](const std::string& q) { highQuality = q == "high"; },
           "Interpolation of transposed notes: standard (cubic) or high (windowed sinc, "
           "cleaner and many times slower)")
        ->check(CLI::IsMember({"standard", "high"}))
        ->default_str("standard");
}

void addPlayCommand(CLI::App& app) {
    auto play = std::make_shared<PlayOptions>();
    CLI::App* cmd = app.add_subcommand("play", "Play notes through a bank into a WAV file");
    cmd->add_option("BANK", play->bank, "Bank folder or archive")->required();
    cmd->add_option("NOTES", play->notes,
                    "Notes as PITCH[@START[:LENGTH]][/VELOCITY] (seconds); PITCH is a MIDI "
                    "number or a name like C4, F#3, Bb2; VELOCITY 1-127 chooses the dynamic "
                    "layer and the loudness (default: dynamic F at full loudness). A note "
                    "without @START follows the previous one.")
        ->required();
    cmd->add_option("--length", play->length, "Length of notes that give none, in seconds")
        ->capture_default_str()
        ->check(CLI::Range(0.01, 60.0));
    addOutputOptions(cmd, play->out);
    cmd->callback([play] { runPlay(*play); });
}

} // namespace oxsf
