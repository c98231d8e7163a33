#pragma once

// Which bank plays each MIDI channel of a song: banks named per channel, a
// folder of imported banks listed by General MIDI bank and program, a drum kit,
// or one bank for everything.

#include "Warnings.h"

#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>

#include <bitset>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ox::soundfont {
struct SampleTreeNodeSample;
}

namespace oxsf {

using Channels = std::bitset<16>;

/// Channels 1-16 written as "10" or "1-9,11-16". Throws UsageError.
Channels parseChannels(const std::string& text);

/// A bank a song plays, opened once, with the searches its notes made.
class SongBank {
public:
    SongBank(std::shared_ptr<ox::soundfont::SoundFont> bank, std::string path);

    const ox::soundfont::SoundFont& bank() const { return *m_bank; }
    /// The path it was opened from.
    const std::string& path() const { return m_path; }
    /// A drum kit: every piece at its own note, and a note without a piece stays silent.
    bool kit() const { return m_kit; }
    /// The sample a note struck at `velocity` (1 to 127) plays, its velocity
    /// range honoured, or null; each search is made once.
    const ox::soundfont::SampleTreeNodeSample* sample(int midi, int velocity);

    /// Notes the kit has no piece for (or the bank no sample), and notes more
    /// than two octaves from the nearest sample, by MIDI note.
    std::map<int, int> missing;
    std::map<int, int> farOff;

private:
    std::shared_ptr<ox::soundfont::SoundFont> m_bank;
    std::string m_path;
    bool m_kit;
    std::vector<const ox::soundfont::SampleTreeNodeSample*>
        m_samples; ///< 128 notes x 128 velocities
    std::vector<bool> m_searched;
};

struct BankRules {
    std::vector<std::pair<Channels, std::string>> channelBanks; ///< --bank, in order given
    std::string instruments;                                    ///< folder of instruments.json
    std::string drums;                                          ///< the kit of the drum channels
    std::string everything;                                     ///< the one-bank form
    Channels drumChannels = Channels().set(9);
};

/// Chooses the bank of a channel at a program; opens each bank once.
class BankChooser {
public:
    /// Opens the banks the rules name and reads the instruments folder's list.
    /// Throws ToolError for any of them that cannot be opened or read.
    BankChooser(const BankRules& rules, Warnings& warnings);
    ~BankChooser();

    bool drumChannel(int channel) const { return m_rules.drumChannels.test(channel); }
    /// The bank that plays `channel` (0-15) at `program` after bank select
    /// `msb`:`lsb`, or null when none does (said once in a warning).
    SongBank* choose(int channel, int msb, int lsb, int program);
    /// Warns once per bank about the notes it could not play as asked.
    void warnAboutNotes();

private:
    struct Entry {
        std::string path;
        bool kit = false;
    };
    BankRules m_rules;
    Warnings& m_warnings;
    ox::soundfont::SoundFontManager m_manager;
    std::map<std::string, std::unique_ptr<SongBank>> m_banks; ///< by path; null: failed to open
    std::map<std::pair<int, int>, Entry> m_entries;           ///< bank:program, first listed
    std::map<std::tuple<int, int, int, int>, SongBank*> m_chosen;

    SongBank* open(const std::string& path, bool given);
    SongBank* instrument(int bank, int program);
    SongBank* chooseDrums(int channel, int program);
    SongBank* chooseMelodic(int channel, int msb, int lsb, int program);
};

} // namespace oxsf
