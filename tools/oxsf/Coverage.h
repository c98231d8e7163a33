#pragma once

// What a host meets when it asks a bank for notes by pitch alone: for every MIDI
// note and every dynamic, the sample the library's own search picks and how far
// it transposes it.

#include "Vocabulary.h"

#include <soundfont/SampleCoordinate.h>

#include <array>
#include <string>

namespace ox::soundfont {
class SoundFont;
class SampleTreeNode;
struct SampleTreeNodeSample;
} // namespace ox::soundfont

namespace oxsf {

inline constexpr int kMidiNotes = 128;

struct CoverageCell {
    const ox::soundfont::SampleTreeNodeSample* sample = nullptr; ///< null when the tree holds none
    int transposition = 0; ///< the note minus the sample's recorded pitch
};

/// The coverage of one bank. Every pitch-only request is answered from one node
/// (pick/sustain/down or stick/hit/hit, or where the search climbs from there),
/// and what that node records decides which notes are meant to sound:
/// a pitched bank's notes from its lowest to its highest recorded pitch, an
/// unpitched bank's pieces, one note each. Those notes are the checked ones;
/// requests for other notes can only be transposed from the nearest recording.
struct Coverage {
    Kind kind = Kind::Pitched;
    /// The node pitch-only requests are answered from; null for a bank without samples.
    const ox::soundfont::SampleTreeNode* node = nullptr;
    std::array<bool, kMidiNotes> checked{};
    /// cells[note][dynamic] for every MIDI note and dynamic 0 to 16.
    std::array<std::array<CoverageCell, ox::soundfont::kDynamicCount>, kMidiNotes> cells{};

    /// An unpitched bank's piece at `note`: the first sample the node records there.
    const ox::soundfont::SampleTreeNodeSample* piece(int note) const;
};

/// Asks the bank's tree for every note and dynamic with findSampleByMidi.
Coverage coverageOf(const ox::soundfont::SoundFont& bank);

/// A short name for what plays a cell: a pitched sample's recorded pitch ("C#4"),
/// an unpitched one's file name without folder and extension ("Drm-Snare-F").
std::string sampleLabel(Kind kind, const ox::soundfont::SampleTreeNodeSample& sample);

} // namespace oxsf
