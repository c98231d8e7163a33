#include "BankOptions.h"

#include "BankLoader.h"
#include "Errors.h"
#include "SongBanks.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

namespace oxsf {

void addBankOptions(CLI::App* cmd, BankOptions& options) {
    cmd->add_option("--bank", options.banks,
                    "CHANNELS=BANK: these channels (like 10 or 1-9,11-16) play BANK, whatever "
                    "their program (repeatable)");
    cmd->add_option("--instruments", options.instruments,
                    "Folder written by oxsf import: programs and bank selects choose from its "
                    "instruments.json");
    cmd->add_option("--drums", options.drums, "The drum kit of the drum channels");
    cmd->add_option("--drum-channels", options.drumChannels,
                    "Channels that play drum kits, or none")
        ->capture_default_str();
}

ox::synth::BankRules bankRules(const BankOptions& options, const std::string& everything,
                               const std::string& bankHint) {
    ox::synth::BankRules rules;
    for (const std::string& assignment : options.banks) {
        const size_t equals = assignment.find('=');
        if (equals == std::string::npos || equals + 1 == assignment.size()) {
            throw UsageError(fmt::format("--bank '{}' is not CHANNELS=BANK (for example "
                                         "10=Kit.tq7bank or 1-9,11-16=Piano)",
                                         assignment));
        }
        rules.channelBanks.emplace_back(parseChannels(assignment.substr(0, equals)),
                                        assignment.substr(equals + 1));
    }
    rules.instruments = options.instruments;
    rules.drums = options.drums;
    rules.everything = everything;
    rules.drumChannels =
        options.drumChannels == "none" ? Channels() : parseChannels(options.drumChannels);
    if (rules.channelBanks.empty() && rules.instruments.empty() && rules.drums.empty() &&
        rules.everything.empty()) {
        throw UsageError(fmt::format(
            "no bank: give {}, --instruments DIR, --bank CHANNELS=BANK or --drums BANK", bankHint));
    }
    return rules;
}

ox::synth::BankOpener bankOpener(ox::soundfont::SoundFontManager& manager) {
    return [&manager](const std::string& path) {
        try {
            return openBank(manager, path).bank;
        } catch (const ToolError& e) {
            throw ox::synth::BankError(path, e.reason());
        }
    };
}

} // namespace oxsf
