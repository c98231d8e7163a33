#pragma once

// What every importer produces and the bank writer consumes: the zones of one
// bank (which sample plays which keys at which velocities, and how), and
// readers for their audio. Nothing is decoded until the writer asks.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ox::import {

/// The optional envelope attributes of a Wave: times in seconds, sustain in dB
/// (0 full level, negative below).
struct Envelope {
    std::optional<double> delay, attack, hold, decay, sustain, release;
    /// The release is timed from full level: released lower, it is shorter.
    bool releaseFromFull = false;
    bool operator==(const Envelope&) const = default;
};

/// Audio of one file to write: interleaved samples at full 32-bit scale.
struct Audio {
    int channels = 1;
    int sampleRate = 44100;
    int bits = 16; ///< 16 or 24: the FLAC written
    std::vector<int32_t> samples;
    int64_t loopStart = -1; ///< loop frames [loopStart, loopEnd); -1 for none
    int64_t loopEnd = -1;

    int64_t frames() const { return int64_t(samples.size()) / channels; }
};

/// Where a zone's audio comes from. Zones whose sources have the same key
/// play the same data and share one file.
struct AudioSource {
    std::string key;
    std::string name;            ///< readable part of the file name
    std::function<Audio()> read; ///< throws ImportError
};

/// Which strikes of its key a zone answers: one of several round-robin
/// alternates (strike `seqPosition` of every `seqLength`), or a random one
/// (a draw from 0 to 1 in [randLo, randHi)). The default answers every strike.
struct Turn {
    int seqLength = 1, seqPosition = 1;
    double randLo = 0, randHi = 1;
    bool operator==(const Turn&) const = default;
};

/// A further file that sounds with a zone (a Layer element): the other side
/// of a stereo pair that loops at its own frames, or another zone of the
/// source sounding at the same keys (a hammer over a string).
struct ZoneLayer {
    size_t audio = 0; ///< index into BankPlan::audio
    double gainDb = 0;
    std::vector<std::pair<std::string, double>> voice; ///< as Zone::voice
    Envelope envelope;
    double repitch = 0;         ///< cents against the zone it sounds with
    int velLo = 1, velHi = 127; ///< the velocities it sounds at
    bool loopRelease = false;   ///< its loop plays on through the release
    Turn turn = {};             ///< the strikes it sounds at; a zone's own side takes the zone's
    bool operator==(const ZoneLayer&) const = default;
};

/// One sample of the source with the keys and velocities it answers.
struct Zone {
    int keyLo = 0, keyHi = 127;
    int velLo = 1, velHi = 127;
    int root = 60;         ///< the key at which the sample sounds as recorded
    double cents = 0;      ///< tuning on top, in cents
    double keyTrack = 100; ///< cents per key away from the root
    double gainDb = 0;
    int chokeGroup = 0;       ///< exclusive group: a new note of it cuts this one; 0 for none
    bool loopRelease = false; ///< its loop plays on through the release
    Turn turn;                ///< the strikes of its key it answers
    Envelope envelope;
    /// Voice attributes of its Wave ("pan", "cutoff", "modLfoFreq"…) with their
    /// values in the description's units, in the order they are written.
    std::vector<std::pair<std::string, double>> voice;
    size_t audio = 0;              ///< index into BankPlan::audio
    std::vector<ZoneLayer> layers; ///< files that sound with it
    bool layered = false;          ///< written as a layer of other zones (set by the writer)
};

/// Everything one bank is made of, before anything is written.
struct BankPlan {
    std::string folder; ///< bank folder name; archives add ".tq7bank"
    std::string id, name, description, source;
    std::string filePrefix; ///< every sample file name starts with it
    bool unpitched = false;
    int bank = -1, program = -1;
    std::vector<Zone> zones; ///< in source order: the earlier zone wins an overlap
    std::vector<AudioSource> audio;
    std::string zoneWord = "zone";      ///< what the source calls a zone, for the report
    std::map<std::string, int> dropped; ///< what the bank cannot hold -> zones affected
    std::vector<std::string> warnings;
    std::vector<std::pair<int, std::string>> pieces; ///< kits: note and piece name

    void drop(const std::string& what, int zones = 1) { dropped[what] += zones; }
    /// The index of `source` in `audio`; added unless a source of its key is there.
    size_t addAudio(AudioSource source) {
        for (size_t i = 0; i < audio.size(); ++i) {
            if (audio[i].key == source.key) {
                return i;
            }
        }
        audio.push_back(std::move(source));
        return audio.size() - 1;
    }
};

} // namespace ox::import
