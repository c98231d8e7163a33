// oxsf render: a Standard MIDI File through banks chosen per channel and
// program, streamed block by block into a sound file.

#include "BankOptions.h"
#include "Commands.h"
#include "Errors.h"
#include "Midi.h"
#include "Progress.h"
#include "SongBanks.h"
#include "SoundWriter.h"
#include "Warnings.h"

#include <ox/synth/Synth.h>
#include <soundfont/SoundFont.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>

namespace oxsf {

using ox::synth::Synth;

namespace {

// Blocks the song renders in between events: a whole number of the synth's own
// chunks, so that every chunk starts where the one before ended or at an event.
constexpr int kBlockFrames = Synth::kMaxBlockFrames;
// Blocks of the tail after the last event, each written up to its last sounding frame.
constexpr int kTailFrames = 512;
constexpr double kMaxSongSeconds = 4 * 3600.0;
// Voices still sounding this long after the song's end are cut.
constexpr double kMaxTailSeconds = 60.0;
constexpr float kNormalizedPeak = 0.891f; // -1 dBFS

struct RenderOptions {
    std::vector<std::string> positionals; ///< [BANK] SONG
    BankOptions banks;
    int channel = 0;
    std::string output;
    double gainDb = 0.0;
    bool normalize = false;
    bool floatSamples = false;
    int bits = 16;
    int sampleRate = 44100;
    double release = 0.08;
    bool highQuality = false;
    bool strict = false;
    bool quiet = false;
};

/// Plays the song through `synth` into `out`: rendering up to each event's
/// frame, then after the last event on until every voice has ended.
void renderSong(MidiReader& song, int onlyChannel, Synth& synth, SoundWriter& out, int rate,
                Progress& progress) {
    std::vector<float> block(static_cast<size_t>(kBlockFrames) * 2);
    int64_t frame = 0;
    const auto renderUntil = [&](int64_t end) {
        while (frame < end) {
            const int count = static_cast<int>(std::min<int64_t>(kBlockFrames, end - frame));
            synth.process(block.data(), count, nullptr, 0);
            out.write(block.data(), count);
            frame += count;
            progress.update(frame / rate);
        }
    };
    song.rewind();
    while (const auto event = song.next()) {
        if (onlyChannel == 0 || event->channel() + 1 == onlyChannel) {
            renderUntil(std::llround(event->seconds * rate));
            const ox::synth::MidiEvent message = *event;
            synth.process(block.data(), 0, &message, 1);
        }
    }
    renderUntil(std::llround(song.seconds() * rate));
    synth.releaseAll();
    // The tail ends with the last frame any voice sounded in.
    for (int64_t tail = 0; synth.sounding() && tail < kMaxTailSeconds * rate; tail += kTailFrames) {
        out.write(block.data(), synth.process(block.data(), kTailFrames, nullptr, 0));
    }
}

/// Copies the float file `from` into `to`, times `scale`, block by block.
void copyScaled(const std::string& from, SoundWriter& to, float scale) {
    SF_INFO info{};
    SNDFILE* file = sf_open(from.c_str(), SFM_READ, &info);
    if (!file) {
        throw ToolError(from, std::string("cannot read back the mix: ") + sf_strerror(nullptr));
    }
    std::vector<float> block(8192 * 2);
    sf_count_t count = 0;
    while ((count = sf_readf_float(file, block.data(), 8192)) > 0) {
        for (sf_count_t i = 0; i < count * 2; ++i) {
            block[static_cast<size_t>(i)] *= scale;
        }
        to.write(block.data(), count);
    }
    sf_close(file);
}

/// Removes a file of ours when it goes out of scope.
struct ScratchFile {
    std::string path;
    ~ScratchFile() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

void printChannels(const SongSurvey& survey, const ox::synth::BankChooser& banks) {
    for (const auto& [key, notes] : survey.played()) {
        const auto& [channel, program, bank] = key;
        fmt::print("channel {:>2}  {} {:>3}  {} (\"{}\"), {} note{}\n", channel + 1,
                   banks.drumChannel(channel) ? "kit    " : "program", program, bank->path(),
                   bank->bank().name(), notes, notes == 1 ? "" : "s");
    }
}

void runRender(const RenderOptions& options) {
    const std::string& songPath = options.positionals.back();
    const OutputFormat format = outputFormat(options.output, options.bits, options.floatSamples);
    Warnings warnings;
    ox::soundfont::SoundFontManager manager;
    ox::synth::BankChooser banks(
        bankRules(options.banks, options.positionals.size() == 2 ? options.positionals[0] : "",
                  "one BANK before the song"),
        [&warnings](const std::string& path, const std::string& what) {
            warnings.warn(path, what);
        },
        bankOpener(manager));
    MidiReader song(songPath);

    ox::synth::SynthSettings settings;
    settings.sampleRate = options.sampleRate;
    settings.release = options.release;
    settings.highQuality = options.highQuality;
    settings.gain = static_cast<float>(std::pow(10.0, options.gainDb / 20.0));

    // A first pass chooses the banks and samples and makes them ready, and says
    // what will play and what will not: no note of the render waits or is missed.
    Synth synth(banks, settings);
    SongSurvey survey(synth, warnings);
    while (const auto event = song.next()) {
        if (options.channel == 0 || event->channel() + 1 == options.channel) {
            survey.handle(*event);
        }
    }
    if (song.seconds() > kMaxSongSeconds) {
        throw ToolError(songPath, fmt::format("the song lasts {:.1f} hours; refusing more than 4",
                                              song.seconds() / 3600.0));
    }
    survey.warnAboutNotes(banks);
    int notes = 0;
    for (const auto& entry : survey.played()) {
        notes += entry.second;
    }
    if (notes == 0) {
        throw ToolError(songPath,
                        options.channel != 0
                            ? fmt::format("no notes to play on channel {}", options.channel)
                            : std::string("no notes to play"));
    }
    if (!options.quiet) {
        printChannels(survey, banks);
    }

    // In seconds of the song.
    Progress progress("rendering", static_cast<int64_t>(std::ceil(song.seconds())));
    warnings.setProgress(&progress);
    SoundWriter out(options.output, format, options.sampleRate);
    float scale = 1.0f;
    if (options.normalize) {
        // The peak is known at the end: the mix goes to a float file beside the
        // output first, and is copied from there at the level that puts it at -1 dBFS.
        ScratchFile scratch{options.output + ".oxsf-mix.w64"};
        SoundWriter mix(scratch.path, scratchFormat(), options.sampleRate);
        renderSong(song, options.channel, synth, mix, options.sampleRate, progress);
        mix.close();
        scale = mix.peak() > 0.0f ? kNormalizedPeak / mix.peak() : 1.0f;
        copyScaled(scratch.path, out, scale);
    } else {
        renderSong(song, options.channel, synth, out, options.sampleRate, progress);
    }
    out.close();
    progress.finish();

    if (synth.stolenNotes() > 0) {
        warnings.warn(songPath, fmt::format("{} notes cut short: more than {} voices sounded "
                                            "at once",
                                            synth.stolenNotes(), Synth::kMaxVoices));
    }
    if (synth.missedNotes() > 0) {
        // Only a song of more bank and program choices than the synth keeps at once.
        warnings.warn(songPath, fmt::format("{} notes silent: their banks were not ready",
                                            synth.missedNotes()));
    }
    if (out.clipped() > 0) {
        const double over = 20.0 * std::log10(out.peak());
        warnings.warn(options.output,
                      fmt::format("{} samples clipped at full scale: the mix peaks at {:+.1f} "
                                  "dBFS (lower it with --gain {:.1f}, or give --normalize or "
                                  "--float)",
                                  out.clipped(), over, options.gainDb - std::ceil(over * 10) / 10));
    }
    if (!options.quiet) {
        fmt::print("{} notes rendered, up to {} voices at once\n", notes, synth.peakVoices());
        fmt::print("wrote {} ({:.2f} s, {} Hz, {} stereo, peak {}{})\n", options.output,
                   static_cast<double>(out.frames()) / options.sampleRate, options.sampleRate,
                   format.name, dbfs(out.peak()),
                   options.normalize
                       ? fmt::format(", normalized by {:+.1f} dB", 20.0 * std::log10(scale))
                       : std::string());
    }
    if (options.strict && warnings.count() > 0) {
        throw ToolError(songPath, fmt::format("{} warning{} (--strict)", warnings.count(),
                                              warnings.count() == 1 ? "" : "s"));
    }
}

} // namespace

void addRenderCommand(CLI::App& app) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App* cmd = app.add_subcommand(
        "render", "Render a Standard MIDI File through banks into a WAV, FLAC or Ogg file");
    cmd->add_option("[BANK] SONG", options->positionals,
                    "MIDI file (.mid), after one bank that plays every channel not given "
                    "another")
        ->required()
        ->expected(1, 2);
    cmd->add_option("-o,--output", options->output, "Sound file to write: .wav, .flac or .ogg")
        ->required();
    addBankOptions(cmd, options->banks);
    cmd->add_option("--channel", options->channel, "Only this MIDI channel (1-16)")
        ->check(CLI::Range(1, 16));
    CLI::Option* gain = cmd->add_option("--gain", options->gainDb, "Gain of the mix in dB")
                            ->capture_default_str()
                            ->check(CLI::Range(-60.0, 60.0));
    cmd->add_flag("--normalize", options->normalize, "Bring the mix's peak to -1 dBFS")
        ->excludes(gain);
    cmd->add_flag("--float", options->floatSamples,
                  "32-bit float WAV: values above full scale are kept");
    cmd->add_option("--bits", options->bits, "Bits per sample of WAV and FLAC files")
        ->capture_default_str()
        ->check(CLI::IsMember({16, 24}));
    cmd->add_option("--rate", options->sampleRate, "Output sample rate in Hz")
        ->capture_default_str()
        ->check(CLI::Range(8000, 192000));
    cmd->add_option("--release", options->release,
                    "Note-off fade in seconds, for samples whose bank gives no envelope")
        ->capture_default_str()
        ->check(CLI::Range(0.001, 10.0));
    addQualityOption(cmd, options->highQuality);
    cmd->add_flag("--strict", options->strict, "Exit with 1 when there was a warning");
    cmd->add_flag("-q,--quiet", options->quiet, "Print nothing but warnings and errors");
    cmd->callback([options] { runRender(*options); });
}

} // namespace oxsf
