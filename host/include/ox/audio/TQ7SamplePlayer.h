#pragma once

#include <ox/audio/AudioStream.h>
#include <ox/audio/Envelope.h>
#include <ox/audio/IDecoder.h>
#include <ox/audio/VoiceShape.h>

#include <cstddef>
#include <cstdint>
#include <memory>

/// \file
/// TQ7SamplePlayer, a play cursor over a shared AudioStream, and the
/// interpolators it transposes with.

namespace ox::audio {

namespace voice {
struct LowPassSteps;
struct SinkSteps;
} // namespace voice

/// How a player computes the sound between recorded frames when it transposes.
enum class Interpolation {
    /// Catmull-Rom through four neighbouring frames: cheap, the default.
    Cubic,
    /// A windowed sinc over 32 neighbouring frames, narrowed when transposing up
    /// so that nothing folds back: offline quality, several times the cost.
    Sinc,
};

/// A play cursor over a shared AudioStream. It renders float frames at the
/// output rate the host asks for, transposed by a number of semitones, with
/// cubic (or sinc) interpolation, honouring the stream's loop. Each player has its own
/// cursor; many players of one stream play independently.
///
/// A note: optionally an amplitude envelope (setEnvelope), then release() at
/// note-off. A released player leaves the loop and plays on into the recorded
/// tail under its release, and finishes at silence or at the end of the sound.
/// A player that is given none of these plays exactly as one without them.
///
/// Threads: one player is used by one thread at a time. On an audio thread: every
/// call but prefetch(). render() takes no lock and allocates nothing as long as
/// the frames it reaches are decoded (prefetch() ahead, from another thread, before
/// handing the player over); in non-blocking mode it never decodes, whatever it
/// reaches. Destroying the last holder of a stream frees its audio: keep
/// AudioCache::optimizeMemory off while an audio thread may drop players.
class TQ7SamplePlayer {
public:
    /// A player at the start of `stream` (null or empty: a player that is
    /// finished at once and renders silence).
    explicit TQ7SamplePlayer(const std::shared_ptr<AudioStream>& stream);
    /// Takes over `other`'s stream and cursor; `other` is left finished, without a stream.
    ///@{
    TQ7SamplePlayer(TQ7SamplePlayer&& other) noexcept;
    TQ7SamplePlayer& operator=(TQ7SamplePlayer&& other) noexcept;
    ///@}
    TQ7SamplePlayer(const TQ7SamplePlayer&) = delete;
    TQ7SamplePlayer& operator=(const TQ7SamplePlayer&) = delete;
    ~TQ7SamplePlayer();

    /// The stream played (null for a player made without one).
    const std::shared_ptr<AudioStream>& stream() const;

    /// Output sample rate in Hz; defaults to the stream's own rate (44100 for an
    /// empty stream). Rates of 0 or less are ignored.
    ///@{
    void setOutputSampleRate(int rate);
    int outputSampleRate() const;
    ///@}
    /// Transposition in semitones (may be fractional); 0 plays at the recorded
    /// pitch. Non-finite values are ignored; the speed through the recording,
    /// the rates' ratio included, stops at twelve octaves either way.
    ///@{
    void setTransposition(double semitones);
    double transposition() const;
    ///@}
    /// Extra linear gain (for example the note's velocity), 1 by default.
    ///@{
    void setGain(float gain);
    float gain() const;
    ///@}

    /// The interpolator between recorded frames (Cubic by default). The first
    /// Sinc player of a process builds the kernel's tables (256 KB, about 15
    /// ms): make that choice off the audio thread once, while warming up.
    ///@{
    void setInterpolation(Interpolation interpolation);
    Interpolation interpolation() const;
    ///@}

    /// The note's amplitude envelope. It starts with the next render() from the
    /// start of the sound (or of the envelope after reset()), its times counted at
    /// the output rate of that moment.
    void setEnvelope(const Envelope& envelope);
    /// The envelope set, or null when there is none.
    const Envelope* envelope() const;

    /// The voice's shape: pan, filter and modulation (VoiceShape.h). It starts
    /// with the next render(), its times counted at the output rate; a default
    /// shape plays as none. Setting one mid-note keeps the filter's state.
    void setShape(const VoiceShape& shape);
    /// The shape set, or null when there is none.
    const VoiceShape* shape() const;
    /// Pan alone, -1 (left) to 1 (right), clamped: the shape's pan.
    void setPan(float pan);
    /// The note's MIDI velocity, 1 to 127 (127 by default), which moves the
    /// cutoff by the shape's velocityToCutoff; values outside are clamped.
    ///@{
    void setVelocity(int velocity);
    int velocity() const;
    ///@}

    /// Note-off with the envelope's release time (none: silent at once): release(releaseTime()).
    void release();
    /// The envelope's release time from where the note is now: its `release`,
    /// or with Envelope::releaseFromFull that share of it the fall from the
    /// current level to -100 dB takes. 0 without an envelope.
    double releaseTime() const;
    /// Note-off: this player (and no other of its stream) stops wrapping at the
    /// loop end and plays on into the recorded tail, falling from its current
    /// level to -100 dB in `seconds` (0 or less: silent at once).
    void release(double seconds);
    /// True after a release(), until reset().
    bool released() const;
    /// Whether release() keeps this player in its stream's loop (off by
    /// default: it plays on into the recorded tail), for sounds whose source
    /// loops through the release, which holds no tail to play.
    ///@{
    void setLoopsThroughRelease(bool on);
    bool loopsThroughRelease() const;
    ///@}

    /// Decodes, on the calling thread, every frame the next `frames` output
    /// frames can reach, loop or release alike; the stream keeps them for all its players.
    void prefetch(int64_t frames);
    /// Non-blocking mode (off by default): render() decodes nothing and takes no
    /// lock; frames whose audio is not decoded yet come out silent (missedFrames).
    ///@{
    void setNonBlocking(bool nonBlocking);
    bool nonBlocking() const;
    ///@}
    /// Source frames the last render() found not decoded yet and played as
    /// silence; always 0 outside non-blocking mode.
    int64_t missedFrames() const;

    /// Renders `frames` frames of `outChannels`-interleaved float into `out`
    /// (mono sources are copied to every output channel; stereo sources are
    /// averaged for mono output). Overwrites `out`; frames after the end of the
    /// sound, or after a release has faded out, are zero. Returns the number of
    /// frames rendered before that end.
    int64_t render(float* out, int64_t frames, int outChannels);
    /// As render(), but adds into `out`, output channel c multiplied by
    /// channelGains[c] (null: 1 for every channel), so that voices mix into one
    /// buffer without a scratch copy. Frames after the end of the sound are left
    /// as they are.
    int64_t mix(float* out, int64_t frames, int outChannels, const float* channelGains);
    /// True once the sound has ended or its envelope has reached silence (never
    /// for an unreleased looping stream with a sustain above -100 dB).
    bool finished() const;
    /// Back to the start of the sound, unreleased, with the envelope from its start.
    void reset();

private:
    std::shared_ptr<AudioStream> m_stream;
    double m_position = 0.0; ///< in source frames
    double m_transposition = 0.0;
    double m_step = 1.0; ///< source frames per output frame
    int m_outputRate = 44100;
    float m_gain = 1.0f;
    bool m_finished = false;
    bool m_released = false;
    bool m_loopRelease = false; ///< released, it keeps looping
    bool m_hasEnvelope = false;
    bool m_envelopeStarted = false;
    bool m_nonBlocking = false;
    /// The cursor went round the loop: frames before the loop start read as the loop's end.
    bool m_wrapped = false;
    Interpolation m_interpolation = Interpolation::Cubic;
    Envelope m_envelope;
    EnvelopeState m_level; ///< where the note is on its envelope
    int64_t m_missed = 0;

    // The shape and where the note is on it.
    VoiceShape m_shape;
    bool m_hasShape = false;
    bool m_modulated = false;  ///< the shape moves over the note, or filters
    bool m_filterRuns = false; ///< a filter is set and not bypassed
    float m_baseCutoff = 0.0f; ///< cents, velocity included
    float m_damping = 1.0f;
    int m_velocity = 127;
    int64_t m_elapsed = 0;                 ///< output frames rendered through the shape
    int64_t m_modReleased = -1;            ///< m_elapsed at the release; -1 before
    float m_modReleaseLevel = 0;           ///< the modulation envelope's level then
    double m_filter[kMaxChannels][2] = {}; ///< per channel: the filter's two integrators
    float m_panGains[2] = {1.0f, 1.0f};    ///< the pan's, left and right
    /// The filter's coefficients at m_filterCents, as the last step rendered
    /// had them: a cutoff that holds is not worked out again. m_filterKnown
    /// false: not worked out yet.
    alignas(32) std::byte m_filterSteps[416];
    double m_filterCents = 0.0;
    bool m_filterKnown = false;

    void updateStep();
    double stepFor(double semitones) const;
    void updateShape();
    double modEnvelopeAt(int64_t elapsed) const;
    /// Points filters[k] at step k's filter, worked out into fresh[k] unless
    /// kept; returns the last step's cutoff.
    double filtersAt(const int64_t* middles, int steps, const voice::LowPassSteps** filters,
                     voice::LowPassSteps* fresh);
    /// Keeps `filter`, at `cents`, for the steps to come.
    void keepFilter(const voice::LowPassSteps& filter, double cents);
    const float* panned(int outChannels, const float* channelGains, float* gains) const;
    int64_t voice(float* out, int64_t frames, int outChannels, const float* channelGains, bool add);
    int64_t playShaped(float* out, int64_t frames, int outChannels, const float* channelGains,
                       bool add);
    void startEnvelope();
    /// Renders the plain voice into `out`, or (`steps` not null) step by step
    /// through each step's filter into its target, `out` then unused.
    int64_t play(float* out, int64_t frames, int outChannels, const float* channelGains, bool add,
                 const voice::SinkSteps* steps = nullptr);
};

} // namespace ox::audio
