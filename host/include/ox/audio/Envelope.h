#pragma once

#include <cstdint>
#include <limits>

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
    float delay = 0.0f;
    float attack = 0.0f;
    float hold = 0.0f;
    float decay = 0.0f;
    float sustain = 1.0f;
    float release = 0.0f;
};

/// Where one note is on its envelope, as a run of straight pieces: frame j of
/// the current piece (j from 0 to left() - 1) plays at gain
///
///     level() + j * slope()
///
/// which is the whole per-frame step a render loop needs. Curves in decibels
/// are cut into pieces of at most 0.5 dB, so the straight piece stays within
/// 0.004 dB of the curve; everything else is exact. Plain data: copying,
/// advancing and releasing never allocate or lock, so all of it may run on an
/// audio thread.
class EnvelopeState {
public:
    /// No envelope: level 1, for ever (until released).
    EnvelopeState() = default;

    /// The note starts now; `rate` is frames per second (at least 1).
    void start(const Envelope& envelope, int rate);
    /// The note is released now: from the current level to silence in `seconds`
    /// (0 or less, or a current level at or below -100 dB: silent at once).
    void release(double seconds, int rate);

    float level() const { return m_level; }
    float slope() const { return m_slope; }
    /// Frames left in the current piece, at least 1.
    int64_t left() const { return m_left; }
    /// True once the envelope has reached silence: nothing more will sound.
    bool silent() const { return m_stage == Stage::Silent; }
    bool released() const { return m_stage == Stage::Release || m_stage == Stage::Silent; }
    /// Moves `frames` frames on, 1 to left().
    void advance(int64_t frames) {
        if (frames < m_left) {
            m_level += float(frames) * m_slope;
            m_left -= frames;
        } else {
            nextPiece();
        }
    }

private:
    enum class Stage : uint8_t { Off, Delay, Attack, Hold, Decay, Sustain, Release, Silent };
    static constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

    Stage m_stage = Stage::Off;
    float m_level = 1.0f;
    float m_slope = 0.0f;
    int64_t m_left = kForever;

    // The note's stages, in frames.
    int64_t m_attack = 0;
    int64_t m_hold = 0;
    int64_t m_decay = 0;
    float m_sustain = 1.0f;

    // The curve in decibels being cut into pieces (decay, release).
    double m_curveLevel = 1.0; ///< level at the end of the current piece
    double m_pieceRatio = 1.0; ///< level change over one whole piece
    double m_frameRatio = 1.0; ///< level change over one frame
    int64_t m_pieceFrames = 1;
    int64_t m_curveLeft = 0; ///< frames of the curve after the current piece

    void enter(Stage stage);
    void beginCurve(double from, double to, int64_t frames);
    void curvePiece(double from);
    void nextPiece();
};

} // namespace ox::audio
