#include <ox/synth/BankChooser.h>

#include <soundfont/SampleTree.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace ox::synth {

using namespace ox::soundfont;

namespace {

constexpr int kNotes = 128;
constexpr int kVelocities = 128;
constexpr int kDrumBank = 128;

std::string text(int number) {
    return std::to_string(number);
}

std::shared_ptr<SoundFont> openWith(SoundFontManager& manager, const std::string& path) {
    std::shared_ptr<SoundFont> bank;
    try {
        bank = manager.addDirectory(path);
    } catch (const std::exception& e) {
        throw BankError(path, e.what());
    }
    if (!bank) {
        throw BankError(path, "not a sound bank");
    }
    return bank;
}

} // namespace

Bank::Bank(std::shared_ptr<SoundFont> bank, std::string path)
    : m_bank(std::move(bank)), m_path(std::move(path)),
      m_kit(m_bank->sampleTree().name() == "unpitched") {}

Bank::~Bank() = default;

const SampleTreeNodeSample* Bank::sample(int midi, int velocity) const {
    if (midi < 0 || midi >= kNotes || velocity < 0 || velocity >= kVelocities ||
        m_samples.empty()) {
        return nullptr;
    }
    return m_samples[static_cast<size_t>(midi * kVelocities + velocity)];
}

void Bank::prepare() {
    if (m_prepared) {
        return;
    }
    m_prepared = true;
    m_samples.assign(kNotes * kVelocities, nullptr);
    // Each sample a note reaches, at each velocity: a layer answers velocities of its own.
    std::set<std::pair<const SampleTreeNodeSample*, int>> tried;
    std::set<const ox::audio::AudioStream*> kept;
    for (int midi = 0; midi < kNotes; ++midi) {
        for (int velocity = 0; velocity < kVelocities; ++velocity) {
            const SampleTreeNodeSample* found =
                m_bank->sampleTree().findSampleForVelocity(midi, velocity);
            found = found && !found->files.empty() ? found : nullptr;
            m_samples[static_cast<size_t>(midi * kVelocities + velocity)] = found;
            if (!found || !tried.insert({found, velocity}).second) {
                continue;
            }
            for (const VelocityPlayer& played :
                 m_bank->samplePlayersForVelocity(midi, velocity, kEveryAlternate)) {
                const auto& stream = played.player.stream();
                if (stream && kept.insert(stream.get()).second) {
                    stream->ensureDecoded(stream->frameCount());
                    m_decodedBytes += static_cast<int64_t>(stream->byteCount());
                    m_streams.push_back(stream);
                }
            }
        }
    }
}

BankChooser::BankChooser(const BankRules& rules, WarningHandler warn, BankOpener open)
    : m_rules(rules), m_warn(std::move(warn)), m_open(std::move(open)) {
    if (!m_open) {
        m_open = [this](const std::string& path) { return openWith(m_manager, path); };
    }
    for (const auto& [channels, path] : rules.channelBanks) {
        this->open(path, true);
    }
    for (const std::string& path : {rules.drums, rules.everything}) {
        if (!path.empty()) {
            this->open(path, true);
        }
    }
    if (rules.instruments.empty()) {
        return;
    }
    const std::string list = (fs::path(rules.instruments) / "instruments.json").string();
    std::ifstream in(list);
    if (!in) {
        throw BankError(list, fs::exists(list) ? "cannot read the file"
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
        throw BankError(list, std::string("not a list written by oxsf import (") + e.what() + ")");
    }
}

BankChooser::~BankChooser() = default;

void BankChooser::warn(const std::string& path, const std::string& what) const {
    if (m_warn) {
        m_warn(path, what);
    }
}

Bank* BankChooser::open(const std::string& path, bool given) {
    const std::string full = given ? path : (fs::path(m_rules.instruments) / path).string();
    const auto found = m_banks.find(full);
    if (found != m_banks.end()) {
        return found->second.get();
    }
    std::unique_ptr<Bank> bank;
    try {
        bank = std::make_unique<Bank>(m_open(full), full);
    } catch (const std::exception& e) {
        if (given) {
            throw;
        }
        const auto* error = dynamic_cast<const BankError*>(&e);
        warn(full, (error ? error->reason() : std::string(e.what())) + "; its notes are skipped");
    }
    return (m_banks[full] = std::move(bank)).get();
}

Bank* BankChooser::instrument(int bank, int program) {
    const auto entry = m_entries.find({bank, program});
    return entry == m_entries.end() ? nullptr : open(entry->second.path, false);
}

Bank* BankChooser::choose(int channel, int msb, int lsb, int program) {
    const auto key = std::tuple{channel, msb, lsb, program};
    const auto chosen = m_chosen.find(key);
    if (chosen != m_chosen.end()) {
        return chosen->second;
    }
    if (m_chosen.size() > 65536) {
        m_chosen.clear(); // a song that changes programs without end: choose again
    }
    Bank* bank = nullptr;
    for (const auto& [channels, path] : m_rules.channelBanks) {
        if (channel >= 0 && channel < 16 && channels.test(static_cast<size_t>(channel))) {
            bank = open(path, true); // the last naming the channel wins
        }
    }
    if (!bank) {
        bank = channel >= 0 && channel < 16 && drumChannel(channel)
                   ? chooseDrums(channel, program)
                   : chooseMelodic(channel, msb, lsb, program);
    }
    return m_chosen[key] = bank;
}

Bank* BankChooser::chooseDrums(int channel, int program) {
    if (!m_rules.drums.empty()) {
        return open(m_rules.drums, true);
    }
    const std::string list = m_rules.instruments + "/instruments.json";
    if (Bank* kit = instrument(kDrumBank, program)) {
        return kit;
    }
    if (!m_rules.instruments.empty()) {
        Bank* kit = instrument(kDrumBank, 0);
        for (auto entry = m_entries.begin(); !kit && entry != m_entries.end(); ++entry) {
            kit = entry->second.kit ? open(entry->second.path, false) : nullptr;
        }
        if (kit) {
            warn(list, "channel " + text(channel + 1) + ": no drum kit " + text(kDrumBank) + ":" +
                           text(program) + "; " + kit->path() + " plays it");
            return kit;
        }
    }
    if (!m_rules.everything.empty()) {
        return open(m_rules.everything, true);
    }
    warn("", "channel " + text(channel + 1) +
                 " (drums): no kit (give --drums, --instruments or --bank " + text(channel + 1) +
                 "=BANK); its notes are skipped");
    return nullptr;
}

Bank* BankChooser::chooseMelodic(int channel, int msb, int lsb, int program) {
    const std::string list = m_rules.instruments + "/instruments.json";
    const int bankNumber = lsb == 0 ? msb : msb * 128 + lsb;
    const std::string asked =
        "channel " + text(channel + 1) + ": no program " + text(bankNumber) + ":" + text(program);
    Bank* bank = instrument(bankNumber, program);
    if (!bank && lsb != 0) {
        bank = instrument(msb, program);
    }
    if (bank || m_rules.instruments.empty()) {
        // found, or no list to look in
    } else if ((bank = instrument(0, program))) {
        warn(list, asked + "; " + bank->path() + " (0:" + text(program) + ") plays it");
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
            warn(list, asked + "; the nearest of its family, " + bank->path() + ", plays it");
        }
    }
    if (!bank && !m_rules.everything.empty()) {
        bank = open(m_rules.everything, true);
        if (!m_rules.instruments.empty()) {
            warn(list, asked + "; " + bank->path() + " plays it");
        }
    }
    if (!bank) {
        const std::string where = m_rules.instruments.empty()
                                      ? "no bank (give --instruments, --bank " + text(channel + 1) +
                                            "=BANK or one BANK for all)"
                                      : "no program " + text(bankNumber) + ":" + text(program) +
                                            " nor one of its family in " + list;
        warn("", "channel " + text(channel + 1) + ": " + where + "; its notes are skipped");
    }
    return bank;
}

} // namespace ox::synth
