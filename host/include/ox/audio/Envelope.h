#pragma once

#include <cstdint>
#include <limits>

/// \file
/// A note's amplitude envelope (Envelope) and where a note is on it
/// (EnvelopeState), as TQ7SamplePlayer applies them.

namespace ox::audio {

/// The amplitude envelope of a note. Times are in seconds; the sustain level is
/// linear (1 is full level, 0.5 about -6 dB, 0.00001 is -100 dB). A note goes:
/// - delay: silence;
/// - attack: from silence to full level, in a straight line in amplitude;
/// - hold: full level;
/// - decay: from full level to the sustain level, in a straight line in decibels;
/// - sustain: the sustain level until the note is released (a sustain at or below
///   -100 dB ends the note when the decay reaches it);
/// - release: from the level at the moment of release to -100 dB, in a straight
///   line in decibels, then silence.
/// Negative and non-finite times count as 0, times above 100000 s as 100000 s; the
/// sustain level is clamped to 0..1 (non-finite: 1).
struct Envelope {
    float delay = 0.0f;   ///< seconds of silence before the attack
    float attack = 0.0f;  ///< seconds from silence to full level
    float hold = 0.0f;    ///< seconds at full level
    float decay = 0.0f;   ///< seconds from full level to the sustain level
    float sustain = 1.0f; ///< linear level held until the release
    float release = 0.0f; ///< seconds from the level at note-off to -100 dB
    /// When set, `release` is the time of a fall from full level to -100 dB: a
    /// note released lower falls at the same rate in dB, in proportionally less
    /// time (TQ7SamplePlayer::releaseTime()), as soundfont releases are timed.
    bool releaseFromFull = false;

    /// Equal when every time and level is.
    bool operator==(const Envelope&) const = default;
};

/// Where one note is on its envelope. Each stage is one run of frames whose
/// gains follow
///
///     gain(0) = level(),  gain(j + 1) = gain(j) * ratio() + slope()
///
/// for left() frames: a straight line in amplitude (ratio 1) or in decibels
/// (slope 0), exactly. That recurrence is the whole per-frame step a render loop
/// needs. Plain data: copying, advancing and releasing never allocate or lock,
/// so all of it may run on an audio thread.
class EnvelopeState {
public:
    /// No envelope: level 1, for ever (until released).
    EnvelopeState() = default;

    /// The note starts now; `rate` is frames per second (at least 1).
    void start(const Envelope& envelope, int rate);
    /// The note is released now: from the current level to silence in `seconds`
    /// (0 or less, or a current level at or below -100 dB: silent at once).
    void release(double seconds, int rate);

    /// The linear gain of the next frame: gain(0) of the current stage's run.
    float level() const { return float(m_level); }
    /// What each frame's gain is multiplied by to give the next one's (1 on a line in amplitude).
    float ratio() const { return float(m_ratio); }
    /// What is then added to it (0 on a line in decibels).
    float slope() const { return float(m_slope); }
    /// Frames left in the current stage, at least 1.
    int64_t left() const { return m_left; }
    /// True once the envelope has reached silence: nothing more will sound.
    bool silent() const { return m_stage == Stage::Silent; }
    /// Moves `frames` frames on, 1 to left().
    void advance(int64_t frames);

private:
    enum class Stage : uint8_t { Off, Delay, Attack, Hold, Decay, Sustain, Release, Silent };
    static constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

    Stage m_stage = Stage::Off;
    double m_level = 1.0;
    double m_ratio = 1.0;
    double m_slope = 0.0;
    int64_t m_left = kForever;
    // ratio^frames for the last run length: runs are mostly a host's block size.
    int64_t m_powerFrames = 0;
    double m_power = 1.0;

    // The note's stages, in frames.
    int64_t m_attack = 0;
    int64_t m_hold = 0;
    int64_t m_decay = 0;
    double m_sustain = 1.0;

    void enter(Stage stage);
    void curve(Stage stage, double from, double to, int64_t frames);
};

} // namespace ox::audio
