#pragma once

// A MIDI song played through the library's sample players, block by block:
// the state of the 16 channels and the voices that sound now, nothing more.

#include "Midi.h"

#include <ox/audio/TQ7SamplePlayer.h>
#include <soundfont/SoundFont.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

namespace oxsf {

class BankChooser;
class SongBank;
class Warnings;

struct SongSettings {
    int sampleRate = 44100;
    double release = 0.08;    ///< note-off fade of samples whose bank gives no envelope
    float gain = 1.0f;        ///< linear, on the whole mix
    bool highQuality = false; ///< transpose through the windowed sinc instead of the cubic
};

class SongRenderer {
public:
    /// Frames render() takes at most.
    static constexpr int64_t kBlockFrames = 512;
    /// Voices that sound at once at most; a note beyond cuts the oldest (released first).
    static constexpr size_t kMaxVoices = 256;

    /// `dry`: only follow the channels and the notes, choosing banks and samples
    /// and counting, without players (a first pass that says what will play).
    SongRenderer(BankChooser& banks, Warnings& warnings, const SongSettings& settings, bool dry);

    /// A channel message, at the frame the next render() starts at.
    void handle(const MidiEvent& event);
    /// Note-off for every note still held: the end of the song.
    void releaseAll();
    /// Mixes the next `frames` frames (at most kBlockFrames) into `out`, stereo,
    /// overwriting it. Returns how many of them any voice sounded in.
    int64_t render(float* out, int64_t frames);
    /// True while a voice sounds.
    bool sounding() const { return !m_voices.empty(); }

    /// Notes played (dry pass) by channel, the program that chose the bank, and the bank.
    const std::map<std::tuple<int, int, SongBank*>, int>& played() const { return m_played; }
    /// Notes cut short because kMaxVoices were sounding.
    int64_t stolen() const { return m_stolen; }
    /// The most voices that sounded at once.
    size_t peakVoices() const { return m_peakVoices; }

private:
    enum class State : uint8_t { Held, Pedal, Ringing, Released };

    struct Voice {
        ox::audio::TQ7SamplePlayer player;
        double transposition; ///< the bank's, before the channel's pitch bend
        uint64_t serial;      ///< start order
        int channel;
        int key;
        int chokeGroup; ///< the exclusive group of its layer; 0 for none
        State state;
        bool kit;
        bool looping;
        /// The sample's own pan, which the channel's moves; none: the channel's alone.
        std::optional<float> samplePan;
        float pan = 0.0f; ///< the pan its player was last given
    };

    struct Channel {
        int program = 0;
        int programMsb = 0; ///< the bank select the program change found
        int programLsb = 0;
        int msb = 0; ///< bank select, taken at the next program change
        int lsb = 0;
        int volume = 100;
        int expression = 127;
        int pan = 64;
        bool pedal = false;
        double bend = 0.0;      ///< semitones
        double bendRange = 2.0; ///< semitones at full bend
        int bendValue = 0;      ///< -8192 to 8191
        int rpn = 0x3FFF;       ///< registered parameter selected (none)
        bool chosen = false;    ///< `bank` is up to date
        SongBank* bank = nullptr;
        float left = 0.0f; ///< gains of the mix, the pan's included
        float right = 0.0f;
        float level = 0.0f; ///< the gain of the mix without the pan
        float place = 0.0f; ///< the pan, -1 to 1
    };

    BankChooser& m_banks;
    Warnings& m_warnings;
    SongSettings m_settings;
    bool m_dry;
    std::array<Channel, 16> m_channels;
    std::vector<Voice> m_voices;
    uint64_t m_serial = 0;
    int64_t m_stolen = 0;
    size_t m_peakVoices = 0;
    std::map<std::tuple<int, int, SongBank*>, int> m_played;
    std::set<const void*> m_checkedSamples; ///< dry pass: samples whose file was tried
    std::vector<ox::soundfont::VelocityPlayer> m_notePlayers; ///< the note being started

    void noteOn(int channel, int key, int velocity);
    void noteOff(int channel, int key);
    void controller(int channel, int number, int value);
    void updateGains(Channel& channel);
    void updateBend(int channel);
    void release(Voice& voice, double seconds);
    void release(Voice& voice);
    /// Lets go of a key: release, or hold for the pedal, or ring on (a kit's one-shot).
    void letGo(Voice& voice);
    void makeRoom();
    /// Removes a voice by moving the last one into its place.
    void removeVoice(size_t index);
    /// Dry pass: warns once for each file of the note on `sample` (its layers'
    /// included) that cannot be opened or decoded.
    void checkFiles(SongBank& bank, const ox::soundfont::SampleTreeNodeSample& sample, int key,
                    int velocity);
    /// Whether the note being started belongs to choke group `group`.
    bool chokes(int group) const;
};

} // namespace oxsf
