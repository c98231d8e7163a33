#pragma once

// MIDI channel messages played through the library's sample players, chunk by
// chunk: the state of the 16 channels and the voices that sound now. Everything
// here runs on the audio thread: nothing allocates once constructed.

#include "Choices.h"

#include <ox/audio/TQ7SamplePlayer.h>
#include <ox/synth/Synth.h>
#include <soundfont/SoundFont.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace ox::synth {

class Engine {
public:
    /// Frames render() takes at most: the chunk every voice renders at once.
    static constexpr int kChunkFrames = 512;

    Engine(Choices& choices, const SynthSettings& settings);

    /// A channel message, at the frame the next render() starts at.
    void handle(const MidiEvent& event);
    /// Note-off for every note still held, the pedals lifted.
    void releaseAll();
    /// Mixes the next `frames` frames (at most kChunkFrames) into `out`, stereo,
    /// overwriting it. Returns how many of them any voice sounded in.
    int render(float* out, int frames);

    bool sounding() const { return !m_voices.empty(); }
    size_t voices() const { return m_voices.size(); }
    int64_t missed() const { return m_missed; }
    int64_t stolen() const { return m_stolen; }
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
        const Bank* bank = nullptr;
        float left = 0.0f; ///< gains of the mix, the pan's included
        float right = 0.0f;
        float level = 0.0f; ///< the gain of the mix without the pan
        float place = 0.0f; ///< the pan, -1 to 1
    };

    /// A note the audio cache was too busy to serve, tried again at each chunk.
    struct Pending {
        const Bank* bank;
        int channel;
        int key;
        int velocity;
        ox::soundfont::Strike strike;
        int waited; ///< frames since it was struck
        bool letGo; ///< its note-off came while it waited
    };

    Choices& m_choices;
    SynthSettings m_settings;
    std::array<Channel, 16> m_channels;
    std::vector<Voice> m_voices;
    uint64_t m_serial = 0;
    int64_t m_missed = 0;
    int64_t m_stolen = 0;
    size_t m_peakVoices = 0;
    std::vector<ox::soundfont::VelocityPlayer> m_notePlayers; ///< the note being started
    std::array<Pending, 32> m_pending{};
    size_t m_pendingCount = 0;
    int m_maxPendingFrames = 0;
    /// Strikes of each key of each channel, for alternates that take turns.
    std::array<uint32_t, 16 * 128> m_strikes{};
    uint32_t m_draw = 0x9E3779B9u; ///< random alternates' generator: a render repeats exactly

    /// The channel's bank, asking the loader for it when it is not ready; false
    /// while it is not.
    bool choose(int channel);
    void noteOn(int channel, int key, int velocity);
    /// Starts the voices of a note; false when the audio cache is busy.
    bool startNote(const Bank& bank, int channel, int key, int velocity,
                   const ox::soundfont::Strike& strike);
    void defer(const Bank& bank, int channel, int key, int velocity,
               const ox::soundfont::Strike& strike);
    /// The next strike of `key` on `channel`, with a fresh draw.
    ox::soundfont::Strike strike(int channel, int key);
    /// Starts the notes that wait, or gives up on those that waited too long.
    void retryPending(int frames);
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
    /// Whether the note being started belongs to choke group `group`.
    bool chokes(int group) const;
};

} // namespace ox::synth
