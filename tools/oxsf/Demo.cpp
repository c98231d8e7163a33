// oxsf demo: synthesize two banks, open them through the library, play a phrase
// on each and say which sample served every note.

#include "BankLoader.h"
#include "Commands.h"
#include "Errors.h"
#include "Mixer.h"
#include "Vocabulary.h"

#include "demo/DemoBanks.h"

#include <soundfont/SampleTree.h>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace oxsf {

using namespace ox::soundfont;

namespace {

struct DemoOptions {
    std::string out = "demo-out";
};

void describeBank(const OpenedBank& opened) {
    const SoundFont& bank = *opened.bank;
    std::vector<SampleTreeNodeSample*> samples;
    bank.sampleTree().getSamples(samples);
    fmt::print("  {:<34} {} bank \"{}\" (id {}, type {}, {}), {} samples\n", opened.path,
               opened.archive ? "archive" : "directory", bank.name(), bank.id(), bank.type(),
               kindName(treeKind(bank.sampleTree())), samples.size());
}

int printPhrase(const std::string& title, const std::vector<NoteReport>& reports,
                const SoundFont* bank) {
    fmt::print("\n{}\n", title);
    int missing = 0;
    for (const NoteReport& r : reports) {
        if (r.note.bank != bank) {
            continue;
        }
        if (!r.found) {
            ++missing;
            fmt::print("  {:5.2f}s  {:<4} ({:>2})  NO SAMPLE\n", r.note.start,
                       pitchName(r.note.midi), r.note.midi);
            continue;
        }
        fmt::print(
            "  {:5.2f}s  {:<4} ({:>2})  {:<28} recorded {:<4} ({:>2})  transposition {:+g}\n",
            r.note.start, pitchName(r.note.midi), r.note.midi, r.file, pitchName(r.recordedMidi),
            r.recordedMidi, r.transposition);
    }
    return missing;
}

void runDemo(const DemoOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const fs::path out(options.out);
    std::error_code ec;
    fs::create_directories(out, ec);
    if (ec) {
        throw ToolError(options.out, "cannot create the folder: " + ec.message());
    }

    fmt::print("Synthesizing the demo banks into {}/\n", options.out);
    demo::DemoBanks banks;
    try {
        banks = demo::writeDemoBanks(options.out);
    } catch (const std::exception& e) {
        throw ToolError("", std::string("writing the demo banks: ") + e.what());
    }

    SoundFontManager manager;
    const OpenedBank guitar = openBank(manager, banks.guitar);
    const OpenedBank drums = openBank(manager, banks.drums);
    fmt::print("Opened through SoundFontManager::addDirectory:\n");
    describeBank(guitar);
    describeBank(drums);

    std::vector<Note> notes;
    for (const auto& [bank, phrase] : {std::pair{guitar.bank.get(), &demo::guitarPhrase()},
                                       std::pair{drums.bank.get(), &demo::drumPhrase()}}) {
        for (const demo::PhraseNote& p : *phrase) {
            notes.push_back(Note{bank, p.midi, p.start, p.length, p.gain});
        }
    }
    MixSettings settings;
    settings.normalize = true;
    std::vector<NoteReport> reports;
    const Mix mix = renderNotes(notes, settings, &reports);

    int missing = printPhrase("Guitar phrase (SoundFont::samplePlayer, dynamic F):", reports,
                              guitar.bank.get());
    missing += printPhrase("Drum phrase:", reports, drums.bank.get());
    if (missing > 0) {
        throw ToolError("", fmt::format("demo: {} note(s) found no sample", missing));
    }

    const std::string wav = (out / "demo.wav").string();
    writeMix(wav, mix, false);
    const double seconds = static_cast<double>(mix.frames()) / mix.sampleRate;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    fmt::print("\nWrote {} ({:.1f} s, 16-bit stereo, {} Hz) in {:.1f} s. Listen with: aplay {}\n",
               wav, seconds, mix.sampleRate, elapsed, wav);
    fmt::print("Explore: oxsf info {} -v\n"
               "         oxsf find {} --midi E4 --attack harmonic\n"
               "         oxsf ls {}\n",
               banks.guitar, banks.guitar, banks.drums);
}

} // namespace

void addDemoCommand(CLI::App& app) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* cmd = app.add_subcommand(
        "demo", "Synthesize two demo banks, play a phrase on each and write demo.wav");
    cmd->add_option("--out", options->out, "Folder to write the banks and demo.wav into")
        ->capture_default_str();
    cmd->callback([options] { runDemo(*options); });
}

} // namespace oxsf
