#pragma once

// The tool's side of a song's banks: channel lists on the command line, and a
// first pass over the song that prepares the banks its notes choose and says
// what will play and what will not.

#include "Warnings.h"

#include <ox/synth/Synth.h>

#include <array>
#include <map>
#include <set>
#include <string>
#include <tuple>

namespace oxsf {

using ox::synth::Channels;

/// Channels 1-16 written as "10" or "1-9,11-16". Throws UsageError.
Channels parseChannels(const std::string& text);

/// Follows the channels' programs and bank selects through a song, preparing
/// the bank of every note in `synth`, and counts what each bank plays.
class SongSurvey {
public:
    SongSurvey(ox::synth::Synth& synth, Warnings& warnings);

    /// A channel message of the song, in order.
    void handle(const ox::synth::MidiEvent& event);
    /// Notes played by channel, the program that chose the bank, and the bank.
    const std::map<std::tuple<int, int, const ox::synth::Bank*>, int>& played() const {
        return m_played;
    }
    /// Warns once per bank about the notes it could not play as asked.
    void warnAboutNotes(const ox::synth::BankChooser& banks);

private:
    struct Channel {
        int program = 0;
        int programMsb = 0; ///< the bank select the program change found
        int programLsb = 0;
        int msb = 0; ///< bank select, taken at the next program change
        int lsb = 0;
        bool chosen = false;
        const ox::synth::Bank* bank = nullptr;
    };

    ox::synth::Synth& m_synth;
    Warnings& m_warnings;
    std::array<Channel, 16> m_channels;
    std::map<std::tuple<int, int, const ox::synth::Bank*>, int> m_played;
    /// Notes a bank (a kit) has no sample (piece) for, and notes more than two
    /// octaves from the nearest sample, by MIDI note.
    std::map<const ox::synth::Bank*, std::map<int, int>> m_missing;
    std::map<const ox::synth::Bank*, std::map<int, int>> m_farOff;
    std::set<const void*> m_checkedSamples; ///< samples whose files were tried

    void noteOn(int channel, int key, int velocity);
    /// Warns once for each file of the note on `sample` (its layers' included)
    /// that cannot be opened or decoded.
    void checkFiles(const ox::synth::Bank& bank, const ox::soundfont::SampleTreeNodeSample& sample,
                    int key, int velocity);
};

} // namespace oxsf
