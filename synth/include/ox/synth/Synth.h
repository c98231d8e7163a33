#pragma once

#include <ox/synth/BankChooser.h>

#include <cstddef>
#include <cstdint>
#include <memory>

/// \file
/// A real-time MIDI synthesizer over the library's banks: Synth, MidiEvent, SynthSettings.

namespace ox::synth {

/// A MIDI channel message, at a frame of the block it is given with.
struct MidiEvent {
    /// Frames after the start of the block; past the block's end it counts as its last frame.
    uint32_t frame = 0;
    /// 0x80-0xEF: the message type in the high nibble, the channel (0-15) in the low one.
    uint8_t status = 0;
    uint8_t data1 = 0; ///< key, controller or program (0-127)
    uint8_t data2 = 0; ///< velocity or value (0-127); 0 for program change and channel pressure

    /// The message type: 0x80 note-off ... 0xE0 pitch bend.
    int type() const { return status & 0xF0; }
    /// The channel, 0-15.
    int channel() const { return status & 0x0F; }
};

/// How a synth sounds.
struct SynthSettings {
    int sampleRate = 44100;   ///< of the output, in Hz; 0 or less plays each sample at its own
    double release = 0.08;    ///< note-off fade of samples whose bank gives no envelope, seconds
    float gain = 1.0f;        ///< linear, on the whole mix
    bool highQuality = false; ///< transpose through the windowed sinc instead of the cubic
};

/// How fast a voice falls silent when a note of its choke group cuts it, in seconds.
inline constexpr double kChokeSeconds = 0.05;

/// Plays MIDI channel messages through the banks a BankChooser picks, into
/// interleaved stereo float blocks: 16 channels with programs and bank select,
/// volume, expression, pan, sustain pedal, pitch bend and its range, drum kits
/// with their choke groups, and up to kMaxVoices voices (the oldest released
/// one, else the oldest, makes room for a new note).
///
/// Threads: process() and the other calls marked real-time belong to one audio
/// thread; they allocate nothing, take no lock, open no file and decode nothing.
/// A bank is opened and decoded in full before the audio thread plays it: by
/// prepare(), up front, or by the loader thread startLoader() starts, which
/// takes the choices the audio thread meets unprepared. A note whose bank is not
/// ready yet is not waited for: it stays silent and is counted (missedNotes()).
/// While the loader opens a file, the library's audio cache is busy: a note
/// starting then on any bank is tried again at each chunk of 512 frames, and
/// starts late or, after a tenth of a second, is counted missed too.
///
/// The chooser's warnings come from the loader thread while it runs.
class Synth {
public:
    /// Frames one process() call takes at most; a larger block is cut to it.
    static constexpr int kMaxBlockFrames = 4096;
    /// Voices that sound at once at most.
    static constexpr size_t kMaxVoices = 256;

    /// A synth choosing from `banks`, which must outlive it, and which nobody else
    /// may use while the loader runs.
    Synth(BankChooser& banks, const SynthSettings& settings);
    /// Stops the loader, if it runs.
    ~Synth();
    Synth(const Synth&) = delete;
    Synth& operator=(const Synth&) = delete;

    /// Chooses the bank of `channel` (0-15) at `program` after bank select
    /// `msb`:`lsb`, opens and prepares it (Bank::prepare), so that its notes play
    /// at once. Returns it, or null when none plays there. Not real-time, and not
    /// while process() or the loader runs: a host's set-up step.
    const Bank* prepare(int channel, int msb, int lsb, int program);
    /// Starts the thread that opens and prepares the banks the audio thread asks
    /// for; does nothing when it runs already.
    void startLoader();
    /// Blocks until the loader has prepared every bank asked for so far (its
    /// results reach the audio thread at its next process()); returns at once
    /// when no loader runs. Not real-time.
    void waitForLoader() const;

    /// Real-time. Renders `frames` frames (at most kMaxBlockFrames) into `out`,
    /// interleaved stereo, overwriting it (null: no frames, the events still apply), and applies
    /// `events` at their frames, in the order given (which should be by frame; an earlier frame
    /// than the one before counts as that one). Returns the frames of the block up to the last one
    /// any voice sounded in.
    int process(float* out, int frames, const MidiEvent* events, size_t eventCount);
    /// Real-time. Note-off for every note still held, the pedals lifted.
    void releaseAll();
    /// Real-time. True while a voice sounds.
    bool sounding() const;
    /// Real-time. Notes that stayed silent because their bank or sample was not ready.
    int64_t missedNotes() const;
    /// Real-time. Notes cut short because kMaxVoices were sounding.
    int64_t stolenNotes() const;
    /// Real-time. The most voices that sounded at once.
    size_t peakVoices() const;
    /// Real-time. Voices sounding now.
    size_t voices() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace ox::synth
