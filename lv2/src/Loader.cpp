#include "Loader.h"

#include <filesystem>

namespace oxlv2 {

namespace {

// Hosts' file choosers often pick files only: a folder's instruments.json or a
// bank's Samples.xml stands for its folder.
ox::synth::BankRules rulesFor(const std::string& path) {
    namespace fs = std::filesystem;
    ox::synth::BankRules rules;
    const fs::path chosen(path);
    std::error_code ec;
    if (chosen.filename() == "instruments.json") {
        rules.instruments = chosen.parent_path().string();
    } else if (fs::is_regular_file(chosen / "instruments.json", ec)) {
        rules.instruments = path;
    } else if (chosen.filename() == "Samples.xml") {
        rules.everything = chosen.parent_path().string();
    } else {
        rules.everything = path;
    }
    return rules;
}

} // namespace

std::unique_ptr<Loaded> load(const std::string& path, int sampleRate, const Report& report) {
    auto loaded = std::make_unique<Loaded>();
    loaded->path = path;
    if (path.empty()) {
        return loaded;
    }
    try {
        loaded->banks = std::make_unique<ox::synth::BankChooser>(
            rulesFor(path), [report](const std::string& where, const std::string& what) {
                if (report) {
                    report(where.empty() ? what : where + ": " + what);
                }
            });
        loaded->synth = std::make_unique<ox::synth::Synth>(
            *loaded->banks, ox::synth::SynthSettings{.sampleRate = sampleRate});
        // Program 0 on every channel plays from the first note on; other
        // choices come through the loader thread.
        for (int channel = 0; channel < 16; ++channel) {
            loaded->synth->prepare(channel, 0, 0, 0);
        }
    } catch (const std::exception& e) {
        if (report) {
            report(e.what());
        }
        loaded->synth.reset();
        loaded->banks.reset();
        return loaded;
    }
    // The chooser warns from the loader thread from here on, through its own copy of `report`.
    loaded->synth->startLoader();
    return loaded;
}

} // namespace oxlv2
