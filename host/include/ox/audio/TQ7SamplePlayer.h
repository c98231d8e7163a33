#pragma once

#include <ox/audio/AudioStream.h>

#include <cstdint>
#include <memory>

namespace ox::audio {

/// A play cursor over a shared AudioStream. It renders float frames at the
/// output rate the host asks for, transposed by a number of semitones, with
/// cubic interpolation, honouring the stream's loop. Each player has its own
/// cursor; many players of one stream play independently.
class TQ7SamplePlayer {
public:
    explicit TQ7SamplePlayer(const std::shared_ptr<AudioStream>& stream);
    TQ7SamplePlayer(TQ7SamplePlayer&& other) noexcept;
    TQ7SamplePlayer& operator=(TQ7SamplePlayer&& other) noexcept;
    TQ7SamplePlayer(const TQ7SamplePlayer&) = delete;
    TQ7SamplePlayer& operator=(const TQ7SamplePlayer&) = delete;
    ~TQ7SamplePlayer();

    const std::shared_ptr<AudioStream>& stream() const;

    /// Output sample rate; defaults to the stream's own rate (44100 for an empty stream).
    void setOutputSampleRate(int rate);
    int outputSampleRate() const;
    /// Transposition in semitones (may be fractional); 0 plays at the recorded pitch.
    void setTransposition(double semitones);
    double transposition() const;
    /// Extra linear gain (for example the note's velocity).
    void setGain(float gain);
    float gain() const;

    /// Renders `frames` frames of `outChannels`-interleaved float into `out`
    /// (mono sources are copied to every output channel; stereo sources are
    /// averaged for mono output). Overwrites `out`; frames after the end of the
    /// sound are zero. Returns the number of frames that carry sound.
    int64_t render(float* out, int64_t frames, int outChannels);
    /// True once the sound has ended (never for a looping stream).
    bool finished() const;
    /// Back to the start of the sound.
    void reset();

private:
    std::shared_ptr<AudioStream> m_stream;
    double m_position = 0.0; ///< in source frames
    double m_transposition = 0.0;
    double m_step = 1.0; ///< source frames per output frame
    int m_outputRate = 44100;
    float m_gain = 1.0f;
    bool m_finished = false;

    void updateStep();
};

} // namespace ox::audio
