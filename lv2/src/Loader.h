#pragma once

// What the plugin plays: a bank chooser and a synth over it, built off the
// audio thread (by the worker, or by a state restore) and handed to it whole.

#include <ox/synth/Synth.h>

#include <functional>
#include <memory>
#include <string>

namespace oxlv2 {

/// A loaded bank path: the synth is null when nothing can play from it, and
/// the plugin stays silent.
struct Loaded {
    std::string path;
    // Declared before the synth, which holds a reference to it: destroyed after.
    std::unique_ptr<ox::synth::BankChooser> banks;
    std::unique_ptr<ox::synth::Synth> synth;
};

/// Told what went wrong with a bank, in one line.
using Report = std::function<void(const std::string& what)>;

/// Opens `path`, an instruments folder (one holding instruments.json) or one
/// bank, or the instruments.json or Samples.xml in such a folder; prepares the default program of
/// every channel and starts the loader for the choices met later. Never throws: a path that cannot
/// be used, or an empty one, gives a Loaded without a synth. Not for the audio thread.
std::unique_ptr<Loaded> load(const std::string& path, int sampleRate, const Report& report);

} // namespace oxlv2
