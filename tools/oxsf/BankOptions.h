#pragma once

// The bank options render and live share: which bank plays which channel, from
// the command line to the synth's BankRules, and the chooser's bank opener.

#include <ox/synth/BankChooser.h>
#include <soundfont/SoundFontManager.h>

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace oxsf {

struct BankOptions {
    std::vector<std::string> banks; ///< CHANNELS=BANK
    std::string instruments;
    std::string drums;
    std::string drumChannels = "10";
};

/// Adds --bank, --instruments, --drums and --drum-channels to `cmd`.
void addBankOptions(CLI::App* cmd, BankOptions& options);

/// The rules the options give, `everything` playing every channel nothing else
/// names (may be empty). Throws UsageError for a malformed option, and for no
/// bank at all, saying `bankHint` is one way to give one ("one BANK before the song").
ox::synth::BankRules bankRules(const BankOptions& options, const std::string& everything,
                               const std::string& bankHint);

/// Opens banks as the tool does (folders and archives, with its error lines),
/// through `manager`, which must outlive the opener.
ox::synth::BankOpener bankOpener(ox::soundfont::SoundFontManager& manager);

} // namespace oxsf
