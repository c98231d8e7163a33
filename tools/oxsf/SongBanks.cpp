#include "SongBanks.h"

#include "BankLoader.h"
#include "Errors.h"
#include "Vocabulary.h"

#include <soundfont/SampleTree.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace oxsf {

using namespace ox::soundfont;

namespace {

constexpr int kVelocities = 128;
constexpr int kDrumBank = 128;

int parseChannel(const std::string& text, const std::string& list) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 16) {
        throw UsageError(fmt::format("'{}' is not a list of MIDI channels 1-16 like 10 or "
                                     "1-9,11-16",
                                     list));
    }
    return static_cast<int>(value);
}

/// "C2 (36), D2 (38)" for the first few notes of `notes`, then how many more.
std::string noteList(const std::map<int, int>& notes) {
    std::string text;
    int shown = 0;
    for (const auto& [midi, count] : notes) {
        if (++shown > 6) {
            return text + fmt::format(" and {} more", notes.size() - 6);
        }
        text += fmt::format("{}{} ({})", text.empty() ? "" : ", ", pitchName(midi), midi);
    }
    return text;
}

int total(const std::map<int, int>& notes) {
    int sum = 0;
    for (const auto& entry : notes) {
        sum += entry.second;
    }
    return sum;
}

} // namespace

Channels parseChannels(const std::string& text) {
    Channels channels;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        const size_t dash = part.find('-');
        const int low = parseChannel(part.substr(0, dash), text);
        const int high =
            dash == std::string::npos ? low : parseChannel(part.substr(dash + 1), text);
        if (high < low) {
            throw UsageError(fmt::format("'{}': the range {} runs backwards", text, part));
        }
        for (int c = low; c <= high; ++c) {
            channels.set(c - 1);
        }
        start = comma + 1;
    }
    return channels;
}

SongBank::SongBank(std::shared_ptr<SoundFont> bank, std::string path)
    : m_bank(std::move(bank)), m_path(std::move(path)),
      m_kit(treeKind(m_bank->sampleTree()) == Kind::Unpitched),
      m_samples(128 * kVelocities, nullptr), m_searched(128 * kVelocities, false) {}

const SampleTreeNodeSample* SongBank::sample(int midi, int velocity) {
    velocity = std::clamp(velocity, 0, kVelocities - 1);
    const size_t index = static_cast<size_t>(midi * kVelocities + velocity);
    if (!m_searched[index]) {
        m_searched[index] = true;
        const SampleTreeNodeSample* found =
            m_bank->sampleTree().findSampleForVelocity(midi, velocity);
        m_samples[index] = found && !found->files.empty() ? found : nullptr;
    }
    return m_samples[index];
}

BankChooser::BankChooser(const BankRules& rules, Warnings& warnings)
    : m_rules(rules), m_warnings(warnings) {
    for (const auto& [channels, path] : rules.channelBanks) {
        open(path, true);
    }
    for (const std::string& path : {rules.drums, rules.everything}) {
        if (!path.empty()) {
            open(path, true);
        }
    }
    if (rules.instruments.empty()) {
        return;
    }
    const std::string list = (fs::path(rules.instruments) / "instruments.json").string();
    std::ifstream in(list);
    if (!in) {
        throw ToolError(list, fs::exists(list) ? "cannot read the file"
                                               : "no such file (give a folder written by "
                                                 "oxsf import)");
    }
    try {
        const nlohmann::json json = nlohmann::json::parse(in);
        for (const auto& bank : json.at("banks")) {
            if (!bank.contains("bank") || !bank.contains("program")) {
                continue; // no General MIDI place
            }
            Entry entry{bank.at("path").get<std::string>(), bank.value("kind", "") == "unpitched"};
            m_entries.emplace(std::pair{bank.at("bank").get<int>(), bank.at("program").get<int>()},
                              entry);
        }
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(list, fmt::format("not a list written by oxsf import ({})", e.what()));
    }
}

BankChooser::~BankChooser() = default;

SongBank* BankChooser::open(const std::string& path, bool given) {
    const std::string full = given ? path : (fs::path(m_rules.instruments) / path).string();
    const auto found = m_banks.find(full);
    if (found != m_banks.end()) {
        return found->second.get();
    }
    std::unique_ptr<SongBank> bank;
    try {
        bank = std::make_unique<SongBank>(openBank(m_manager, full).bank, full);
    } catch (const ToolError& e) {
        if (given) {
            throw;
        }
        m_warnings.warn(full, e.reason() + "; its notes are skipped");
    }
    return (m_banks[full] = std::move(bank)).get();
}

SongBank* BankChooser::instrument(int bank, int program) {
    const auto entry = m_entries.find({bank, program});
    return entry == m_entries.end() ? nullptr : open(entry->second.path, false);
}

SongBank* BankChooser::choose(int channel, int msb, int lsb, int program) {
    const auto key = std::tuple{channel, msb, lsb, program};
    const auto chosen = m_chosen.find(key);
    if (chosen != m_chosen.end()) {
        return chosen->second;
    }
    if (m_chosen.size() > 65536) {
        m_chosen.clear(); // a song that changes programs without end: choose again
    }
    SongBank* bank = nullptr;
    for (const auto& [channels, path] : m_rules.channelBanks) {
        if (channels.test(channel)) {
            bank = open(path, true); // the last --bank naming the channel wins
        }
    }
    if (!bank) {
        bank = drumChannel(channel) ? chooseDrums(channel, program)
                                    : chooseMelodic(channel, msb, lsb, program);
    }
    return m_chosen[key] = bank;
}

SongBank* BankChooser::chooseDrums(int channel, int program) {
    if (!m_rules.drums.empty()) {
        return open(m_rules.drums, true);
    }
    const std::string list = m_rules.instruments + "/instruments.json";
    if (SongBank* kit = instrument(kDrumBank, program)) {
        return kit;
    }
    if (!m_rules.instruments.empty()) {
        SongBank* kit = instrument(kDrumBank, 0);
        for (auto entry = m_entries.begin(); !kit && entry != m_entries.end(); ++entry) {
            kit = entry->second.kit ? open(entry->second.path, false) : nullptr;
        }
        if (kit) {
            m_warnings.warn(list, fmt::format("channel {}: no drum kit {}:{}; {} plays it",
                                              channel + 1, kDrumBank, program, kit->path()));
            return kit;
        }
    }
    if (!m_rules.everything.empty()) {
        return open(m_rules.everything, true);
    }
    m_warnings.warn("", fmt::format("channel {} (drums): no kit (give --drums, --instruments or "
                                    "--bank {}=BANK); its notes are skipped",
                                    channel + 1, channel + 1));
    return nullptr;
}

SongBank* BankChooser::chooseMelodic(int channel, int msb, int lsb, int program) {
    const std::string list = m_rules.instruments + "/instruments.json";
    const int bankNumber = lsb == 0 ? msb : msb * 128 + lsb;
    SongBank* bank = instrument(bankNumber, program);
    if (!bank && lsb != 0) {
        bank = instrument(msb, program);
    }
    if (bank || m_rules.instruments.empty()) {
        // found, or no list to look in
    } else if ((bank = instrument(0, program))) {
        m_warnings.warn(list, fmt::format("channel {}: no program {}:{}; {} (0:{}) plays it",
                                          channel + 1, bankNumber, program, bank->path(), program));
    } else {
        // The nearest program of the same General MIDI family (pianos 0-7,
        // chromatic percussion 8-15, organs, guitars, basses...), the lower on a tie.
        const int family = program / 8 * 8;
        for (int distance = 1; !bank && distance < 8; ++distance) {
            for (int candidate : {program - distance, program + distance}) {
                if (!bank && candidate >= family && candidate < family + 8) {
                    bank = instrument(0, candidate);
                }
            }
        }
        if (bank) {
            m_warnings.warn(list, fmt::format("channel {}: no program {}:{}; the nearest of its "
                                              "family, {}, plays it",
                                              channel + 1, bankNumber, program, bank->path()));
        }
    }
    if (!bank && !m_rules.everything.empty()) {
        bank = open(m_rules.everything, true);
        if (!m_rules.instruments.empty()) {
            m_warnings.warn(list, fmt::format("channel {}: no program {}:{}; {} plays it",
                                              channel + 1, bankNumber, program, bank->path()));
        }
    }
    if (!bank) {
        const std::string where =
            m_rules.instruments.empty()
                ? fmt::format("no bank (give --instruments, --bank {}=BANK or one BANK for all)",
                              channel + 1)
                : fmt::format("no program {}:{} nor one of its family in {}", bankNumber, program,
                              list);
        m_warnings.warn("",
                        fmt::format("channel {}: {}; its notes are skipped", channel + 1, where));
    }
    return bank;
}

void BankChooser::warnAboutNotes() {
    for (const auto& [path, bank] : m_banks) {
        if (!bank) {
            continue;
        }
        if (!bank->missing.empty()) {
            const int count = total(bank->missing);
            m_warnings.warn(path, fmt::format("the {} has no {} for {} note{}: {}; {} silent",
                                              bank->kit() ? "kit" : "bank",
                                              bank->kit() ? "piece" : "sample", count,
                                              count == 1 ? "" : "s", noteList(bank->missing),
                                              count == 1 ? "it stays" : "they stay"));
        }
        if (!bank->farOff.empty()) {
            m_warnings.warn(path, fmt::format("{} note{} outside its range, more than two "
                                              "octaves from the nearest sample, played "
                                              "transposed: {}",
                                              total(bank->farOff),
                                              total(bank->farOff) == 1 ? " lies" : "s lie",
                                              noteList(bank->farOff)));
        }
    }
}

} // namespace oxsf
