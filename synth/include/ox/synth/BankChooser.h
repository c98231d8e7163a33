#pragma once

#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>

#include <bitset>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

/// \file
/// Which bank plays each MIDI channel at each program: Bank, BankRules, BankChooser.

namespace ox::soundfont {
struct SampleTreeNodeSample;
}

namespace ox::synth {

/// A set of MIDI channels, channel 1 at bit 0.
using Channels = std::bitset<16>;

/// A bank or bank list that cannot be used, and why.
class BankError : public std::runtime_error {
public:
    /// `path`: the bank or list; `reason`: what is wrong with it, in one line.
    BankError(const std::string& path, const std::string& reason)
        : std::runtime_error(path.empty() ? reason : path + ": " + reason), m_path(path),
          m_reason(reason) {}

    /// The bank or list the error is about.
    const std::string& path() const { return m_path; }
    /// What is wrong, without the path.
    const std::string& reason() const { return m_reason; }

private:
    std::string m_path;
    std::string m_reason;
};

/// Told about a choice that fell back, or a bank that could not be opened: the
/// path concerned (empty when none) and what happened, in one line.
using WarningHandler = std::function<void(const std::string& path, const std::string& what)>;
/// Opens the bank at a path; throws (preferably BankError) when it cannot.
using BankOpener = std::function<std::shared_ptr<soundfont::SoundFont>(const std::string& path)>;

/// A bank a synth plays, opened once, with every note's sample looked up ahead
/// (prepare()) so that the audio thread only reads.
class Bank {
public:
    /// Wraps an opened bank; `path` is where it was opened from.
    Bank(std::shared_ptr<soundfont::SoundFont> bank, std::string path);
    ~Bank();
    Bank(const Bank&) = delete;
    Bank& operator=(const Bank&) = delete;

    /// The bank itself.
    const soundfont::SoundFont& bank() const { return *m_bank; }
    /// The path it was opened from.
    const std::string& path() const { return m_path; }
    /// A drum kit: every piece at its own note, and a note without a piece stays silent.
    bool kit() const { return m_kit; }
    /// The sample a note struck at `velocity` plays, its velocity range honoured,
    /// or null (also for a sample without a file). Any note number and velocity
    /// is accepted; outside 0-127 nothing plays. Needs prepare() first.
    const soundfont::SampleTreeNodeSample* sample(int midi, int velocity) const;
    /// Looks up every note's sample and decodes every file a note can reach, in
    /// full, so that players never wait. Not for an audio thread; once is enough.
    void prepare();
    /// True once prepare() has run.
    bool prepared() const { return m_prepared; }
    /// Bytes of decoded audio this bank's notes play.
    int64_t decodedBytes() const { return m_decodedBytes; }

private:
    std::shared_ptr<soundfont::SoundFont> m_bank;
    std::string m_path;
    bool m_kit;
    bool m_prepared = false;
    int64_t m_decodedBytes = 0;
    std::vector<const soundfont::SampleTreeNodeSample*> m_samples; ///< 128 notes x 128 velocities
    /// Kept decoded, and alive: no voice that ends frees one on the audio thread.
    std::vector<std::shared_ptr<ox::audio::AudioStream>> m_streams;
};

/// Where a song's banks come from.
struct BankRules {
    /// Banks that play given channels whatever their program; the last naming a channel wins.
    std::vector<std::pair<Channels, std::string>> channelBanks;
    /// A folder with an instruments.json listing banks by General MIDI bank and program.
    std::string instruments;
    /// The kit of the drum channels.
    std::string drums;
    /// The bank of every channel nothing else names.
    std::string everything;
    /// Channels that play kits (channel 10 by default).
    Channels drumChannels = Channels().set(9);
};

/// Chooses the bank of a channel at a program and opens each bank once. Not
/// thread-safe, and not for an audio thread: choosing may open banks.
class BankChooser {
public:
    /// Opens the banks the rules name and reads the instruments folder's list.
    /// Throws what `open` throws for a bank named in the rules, and BankError for a
    /// list that cannot be read. Without `open`, banks open through a manager of
    /// the chooser's own.
    BankChooser(const BankRules& rules, WarningHandler warn = {}, BankOpener open = {});
    ~BankChooser();
    BankChooser(const BankChooser&) = delete;
    BankChooser& operator=(const BankChooser&) = delete;

    /// True for a channel (0-15) that plays kits.
    bool drumChannel(int channel) const { return m_rules.drumChannels.test(channel); }
    /// The bank that plays `channel` (0-15) at `program` after bank select
    /// `msb`:`lsb`, or null when none does (said once in a warning). Not prepared.
    Bank* choose(int channel, int msb, int lsb, int program);
    /// Every bank opened so far, by path; null for those that failed to open.
    const std::map<std::string, std::unique_ptr<Bank>>& banks() const { return m_banks; }

private:
    struct Entry {
        std::string path;
        bool kit = false;
    };
    BankRules m_rules;
    WarningHandler m_warn;
    BankOpener m_open;
    soundfont::SoundFontManager m_manager;
    std::map<std::string, std::unique_ptr<Bank>> m_banks;     ///< by path; null: failed to open
    std::map<std::pair<int, int>, Entry> m_entries;           ///< bank:program, first listed
    std::map<std::tuple<int, int, int, int>, Bank*> m_chosen; ///< by channel, msb, lsb, program

    void warn(const std::string& path, const std::string& what) const;
    Bank* open(const std::string& path, bool given);
    Bank* instrument(int bank, int program);
    Bank* chooseDrums(int channel, int program);
    Bank* chooseMelodic(int channel, int msb, int lsb, int program);
};

} // namespace ox::synth
