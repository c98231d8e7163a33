#include <ox/audio/TQ7SamplePlayer.h>

#include <algorithm>
#include <cmath>

namespace ox::audio {

namespace {

// Source frames fetched per run when a scratch buffer is needed. The buffer
// lives on the stack: rendering never allocates.
constexpr int64_t kChunkFrames = 512;
constexpr int kMaxChannels = 8;
constexpr double kMaxStep = 4096.0; // twelve octaves

/// What a render call knows of the stream, read at once so that a run sees one
/// consistent state; read again when decoding finds the sound shorter than announced.
struct Source {
    const AudioStream* stream;
    int channels;
    int64_t frames;
    bool looping;
    int64_t loopStart;
    int64_t loopEnd;
    bool decode; ///< false in non-blocking mode: only what is decoded already plays

    /// A released player no longer loops.
    Source(const AudioStream& s, bool released, bool decode)
        : stream(&s), channels(s.channels()), frames(s.frameCount()),
          looping(s.looping() && !released), loopStart(s.loopStart()), loopEnd(s.loopEnd()),
          decode(decode) {}

    /// Decodes what indices [first, last] need; false when that changed the sound's length.
    bool prepare(int64_t first, int64_t last) const {
        if (last < 0 || !decode)
            return true;
        const int64_t end = looping && last >= loopEnd ? loopEnd : last + 1;
        if (std::max<int64_t>(first, 0) >= end)
            return true;
        stream->ensureDecoded(end);
        return stream->frameCount() == frames;
    }

    /// Fills `out` with the frames at indices [index, index + count) of the
    /// played sequence, times `gain`: indices past the loop end wrap into the
    /// loop, indices outside the sound are silent. Returns the frames of the
    /// sound that were silent because they are not decoded yet.
    int64_t fetch(int64_t index, int64_t count, float* out, GainRamp gain) const {
        const int64_t loopLength = loopEnd - loopStart;
        int64_t missed = 0;
        while (count > 0) {
            int64_t real = index;
            if (looping && real >= loopEnd)
                real = loopStart + (real - loopStart) % loopLength;
            int64_t run = count;
            int64_t got = 0;
            if (real < 0) {
                run = std::min(count, -real);
            } else if (real < frames) {
                const int64_t limit = looping && real < loopEnd ? loopEnd : frames;
                run = std::min(count, limit - real);
                got = stream->readFrames(real, out, run, gain, decode);
                if (!decode)
                    missed += run - got;
            }
            std::fill(out + got * channels, out + run * channels, 0.0f);
            out += run * channels;
            index += run;
            count -= run;
            if (count > 0)
                gain = gain.after(run);
        }
        return missed;
    }
};

/// Writes one source frame to the output channels: equal layouts copy, mono
/// sources go to every channel, mono output averages, other layouts repeat the
/// source channels in order.
inline void mapFrame(const float* in, int inChannels, float* out, int outChannels, float gain) {
    if (inChannels == outChannels) {
        for (int c = 0; c < outChannels; ++c)
            out[c] = in[c] * gain;
    } else if (inChannels == 1) {
        const float v = in[0] * gain;
        for (int c = 0; c < outChannels; ++c)
            out[c] = v;
    } else if (outChannels == 1) {
        float sum = 0.0f;
        for (int c = 0; c < inChannels; ++c)
            sum += in[c];
        out[0] = sum * gain / float(inChannels);
    } else {
        for (int c = 0; c < outChannels; ++c)
            out[c] = in[c % inChannels] * gain;
    }
}

/// Catmull-Rom spline through four neighbouring samples at fraction t of the way from y1 to y2.
inline float cubic(float y0, float y1, float y2, float y3, float t) {
    return y1 +
           0.5f * t *
               (y2 - y0 +
                t * (2.0f * y0 - 5.0f * y1 + 4.0f * y2 - y3 + t * (3.0f * (y1 - y2) + y3 - y0)));
}

} // namespace

TQ7SamplePlayer::TQ7SamplePlayer(const std::shared_ptr<AudioStream>& stream) : m_stream(stream) {
    if (m_stream && m_stream->sampleRate() > 0)
        m_outputRate = m_stream->sampleRate();
    m_finished = !m_stream || m_stream->empty();
    updateStep();
}

TQ7SamplePlayer::TQ7SamplePlayer(TQ7SamplePlayer&& other) noexcept {
    *this = std::move(other);
}

TQ7SamplePlayer& TQ7SamplePlayer::operator=(TQ7SamplePlayer&& other) noexcept {
    if (this != &other) {
        m_stream = std::move(other.m_stream);
        m_position = other.m_position;
        m_transposition = other.m_transposition;
        m_step = other.m_step;
        m_outputRate = other.m_outputRate;
        m_gain = other.m_gain;
        m_finished = other.m_finished;
        m_released = other.m_released;
        m_hasEnvelope = other.m_hasEnvelope;
        m_envelopeStarted = other.m_envelopeStarted;
        m_nonBlocking = other.m_nonBlocking;
        m_envelope = other.m_envelope;
        m_level = other.m_level;
        m_missed = other.m_missed;
        other.m_finished = true;
    }
    return *this;
}

TQ7SamplePlayer::~TQ7SamplePlayer() = default;

const std::shared_ptr<AudioStream>& TQ7SamplePlayer::stream() const {
    return m_stream;
}

void TQ7SamplePlayer::setOutputSampleRate(int rate) {
    if (rate <= 0)
        return;
    m_outputRate = rate;
    updateStep();
}

int TQ7SamplePlayer::outputSampleRate() const {
    return m_outputRate;
}

void TQ7SamplePlayer::setTransposition(double semitones) {
    if (!std::isfinite(semitones))
        return;
    m_transposition = semitones;
    updateStep();
}

double TQ7SamplePlayer::transposition() const {
    return m_transposition;
}
void TQ7SamplePlayer::setGain(float gain) {
    m_gain = gain;
}
float TQ7SamplePlayer::gain() const {
    return m_gain;
}
bool TQ7SamplePlayer::finished() const {
    return m_finished;
}

void TQ7SamplePlayer::reset() {
    m_position = 0.0;
    m_finished = !m_stream || m_stream->empty();
    m_released = false;
    m_envelopeStarted = false;
    m_level = EnvelopeState();
}

void TQ7SamplePlayer::setEnvelope(const Envelope& envelope) {
    m_envelope = envelope;
    m_hasEnvelope = true;
    m_envelopeStarted = false;
}

const Envelope* TQ7SamplePlayer::envelope() const {
    return m_hasEnvelope ? &m_envelope : nullptr;
}

void TQ7SamplePlayer::startEnvelope() {
    if (m_hasEnvelope && !m_envelopeStarted)
        m_level.start(m_envelope, m_outputRate);
    m_envelopeStarted = true;
}

void TQ7SamplePlayer::release() {
    release(m_hasEnvelope ? m_envelope.release : 0.0);
}

void TQ7SamplePlayer::release(double seconds) {
    startEnvelope();
    m_released = true;
    m_level.release(seconds, m_outputRate);
    m_finished = m_finished || m_level.silent();
}

bool TQ7SamplePlayer::released() const {
    return m_released;
}

void TQ7SamplePlayer::prefetch(int64_t frames) {
    if (!m_stream || frames <= 0)
        return;
    // Until a loop wraps back over frames decoded already, the cursor only moves
    // forward; the cubic reads up to two frames past it.
    const double end = std::floor(m_position + double(frames) * m_step) + 3.0;
    m_stream->ensureDecoded(int64_t(std::min(end, double(m_stream->frameCount()))));
}

void TQ7SamplePlayer::setNonBlocking(bool nonBlocking) {
    m_nonBlocking = nonBlocking;
}

bool TQ7SamplePlayer::nonBlocking() const {
    return m_nonBlocking;
}

int64_t TQ7SamplePlayer::missedFrames() const {
    return m_missed;
}

void TQ7SamplePlayer::updateStep() {
    const int rate = m_stream ? m_stream->sampleRate() : 0;
    if (rate <= 0) {
        m_step = 1.0;
        return;
    }
    // Exactly 1.0 at transposition 0 and equal rates, which selects the copying path.
    const double step = std::exp2(m_transposition / 12.0) * double(rate) / double(m_outputRate);
    m_step = std::clamp(step, 1.0 / kMaxStep, kMaxStep);
}

int64_t TQ7SamplePlayer::render(float* out, int64_t frames, int outChannels) {
    if (!out || frames <= 0 || outChannels <= 0)
        return 0;
    m_missed = 0;
    startEnvelope();
    const AudioStream* stream = m_stream.get();
    if (!stream || stream->empty() || m_level.silent()) {
        std::fill(out, out + frames * outChannels, 0.0f);
        m_finished = true;
        return 0;
    }
    Source source(*stream, m_released, !m_nonBlocking);
    const int inChannels = source.channels;
    float scratch[kChunkFrames * kMaxChannels];

    int64_t done = 0;
    while (done < frames) {
        const bool looping = source.looping;
        if ((!looping && m_position >= double(source.frames)) || m_level.silent()) {
            m_finished = true;
            break;
        }
        float* dst = out + done * outChannels;
        // A run stays within one stage of the envelope, whose gain moves by one
        // multiply-add a frame (GainRamp).
        int64_t count = std::min(frames - done, m_level.left());
        const GainRamp gain{m_gain, m_level.level(), m_level.ratio(), m_level.slope()};
        float level = gain.start;
        if (m_step == 1.0 && m_position == std::floor(m_position)) {
            // Whole frames at the recorded rate: a copy with the gain.
            const int64_t index = int64_t(m_position);
            if (!looping)
                count = std::min(count, source.frames - index);
            if (!source.prepare(index, index + count - 1)) {
                source = Source(*stream, m_released, !m_nonBlocking);
                continue;
            }
            if (inChannels == outChannels) {
                m_missed += source.fetch(index, count, dst, gain);
            } else {
                count = std::min(count, kChunkFrames);
                m_missed += source.fetch(index, count, scratch, GainRamp{});
                for (int64_t j = 0; j < count; ++j) {
                    mapFrame(scratch + j * inChannels, inChannels, dst + j * outChannels,
                             outChannels, gain.gain * level);
                    level = level * gain.ratio + gain.slope;
                }
            }
            m_position += double(count);
        } else {
            // Resampling: fetch the source frames this run spans, plus the
            // neighbours the cubic needs on either side.
            count = std::min<int64_t>(count, int64_t(double(kChunkFrames - 6) / m_step) + 1);
            if (!looping)
                count = std::min<int64_t>(
                    count, int64_t(std::ceil((double(source.frames) - m_position) / m_step)));
            count = std::max<int64_t>(count, 1);
            const int64_t first = int64_t(std::floor(m_position)) - 1;
            const int64_t last = int64_t(std::floor(m_position + double(count - 1) * m_step)) + 2;
            if (!source.prepare(first, last)) {
                source = Source(*stream, m_released, !m_nonBlocking);
                continue;
            }
            m_missed += source.fetch(first, last - first + 1, scratch, GainRamp{});
            float frame[kMaxChannels];
            for (int64_t j = 0; j < count; ++j) {
                const double p = m_position + double(j) * m_step;
                const double whole = std::floor(p);
                const float t = float(p - whole);
                const float* y = scratch + (int64_t(whole) - first - 1) * inChannels;
                for (int c = 0; c < inChannels; ++c)
                    frame[c] = cubic(y[c], y[c + inChannels], y[c + 2 * inChannels],
                                     y[c + 3 * inChannels], t);
                mapFrame(frame, inChannels, dst + j * outChannels, outChannels, gain.gain * level);
                level = level * gain.ratio + gain.slope;
            }
            m_position += double(count) * m_step;
        }
        m_level.advance(count);
        if (looping && m_position >= double(source.loopEnd))
            m_position =
                double(source.loopStart) + std::fmod(m_position - double(source.loopStart),
                                                     double(source.loopEnd - source.loopStart));
        done += count;
    }
    std::fill(out + done * outChannels, out + frames * outChannels, 0.0f);
    if ((!source.looping && m_position >= double(source.frames)) || m_level.silent())
        m_finished = true;
    return done;
}

} // namespace ox::audio
