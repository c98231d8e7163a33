#include <ox/audio/TQ7SamplePlayer.h>

#include "RenderKernels.h"
#include "VoiceModulation.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace ox::audio {

namespace {

using kernels::Kind;

// Frames per run. The vector loops move a ramp's gains on in single precision
// from an exact start, which keeps within a few parts in a million over a run.
constexpr int64_t kRunFrames = 512;
// Source frames gathered into a scratch buffer where a run's neighbours cross
// the start of the sound, a storage block's end or the loop's seam. The buffers
// live on the stack: rendering never allocates.
constexpr int64_t kScratchFrames = 512;
// Frames interpolated one at a time before they are mapped to the output.
constexpr int64_t kChunkFrames = 64;
constexpr double kMaxStep = 4096.0; // twelve octaves
// Frames between two settings of a shaped voice's pitch, cutoff and volume,
// which glides linearly between its points: 1.5 ms at 44.1 kHz, short enough
// that a moving filter does not zip (a sweep's sidebands at the stepping rate)
// and that the volume's line stays within 0.15 dB of the oscillator's curve at
// its peak.
constexpr int64_t kShapeFrames = 64;
// Frames whose settings are worked out together, before they render.
constexpr int64_t kControlFrames = 8 * kShapeFrames;

/// What a render call knows of the stream, read at once so that a run sees one
/// consistent state; read again when decoding finds the sound shorter than announced.
struct Source {
    const AudioStream* stream;
    int channels;
    int64_t frames;
    bool looping;
    int64_t loopStart;
    int64_t loopEnd;
    bool wrapped; ///< went round the loop: the frames before its start play its end
    bool decode;  ///< false in non-blocking mode: only what is decoded already plays

    /// A released player no longer loops.
    Source(const AudioStream& s, bool released, bool wrapped, bool decode)
        : stream(&s), channels(s.channels()), frames(s.frameCount()),
          looping(s.looping() && !released), loopStart(s.loopStart()), loopEnd(s.loopEnd()),
          wrapped(wrapped), decode(decode) {}

    /// Decodes what indices [first, last] need; false when that changed the sound's length.
    bool prepare(int64_t first, int64_t last) const {
        if (last < 0 || !decode) {
            return true;
        }
        const int64_t end = looping && last >= loopEnd ? loopEnd : last + 1;
        if (std::max<int64_t>(first, 0) >= end) {
            return true;
        }
        stream->ensureDecoded(end);
        return stream->frameCount() == frames;
    }

    /// The frame of the sound at index `i` of the played sequence.
    int64_t frameAt(int64_t i) const {
        if (!looping || (i < loopEnd && (!wrapped || i >= loopStart))) {
            return i;
        }
        const int64_t length = loopEnd - loopStart;
        return loopStart + ((i - loopStart) % length + length) % length;
    }

    /// The frames from index `i` on that sit in memory one after another, as the
    /// played sequence has them: none before the sound (or, once wrapped, before
    /// the loop), past its end or the loop's, or not decoded.
    struct Span {
        AudioStream::Block block;
        int64_t end = 0; ///< one past the last index of the span
    };
    Span span(int64_t i) const {
        Span span;
        if (i < (looping && wrapped ? loopStart : 0) || i >= (looping ? loopEnd : frames)) {
            return span;
        }
        span.block = stream->block(i);
        // A blocking render decoded what it reads before it reads it; reading up
        // to the decoded end would make the runs depend on other threads' decoding.
        const int64_t held = decode ? span.block.frames : span.block.decoded;
        span.end = std::min(span.block.first + held, looping ? loopEnd : frames);
        if (span.end <= i || (!span.block.int16 && !span.block.float32)) {
            span.end = 0;
        }
        return span;
    }

    /// Fills `out` with the frames at indices [index, index + count) of the
    /// played sequence, as float with the stream's gain; indices outside the
    /// sound are silent. Returns the frames of the sound that were silent
    /// because they are not decoded yet.
    int64_t fetch(int64_t index, int64_t count, float* out) const {
        int64_t missed = 0;
        while (count > 0) {
            const int64_t real = frameAt(index);
            int64_t run = count;
            int64_t got = 0;
            if (real < 0) {
                run = std::min(count, -real);
            } else if (real < frames) {
                const int64_t limit = looping && real < loopEnd ? loopEnd : frames;
                run = std::min(count, limit - real);
                got = stream->readFrames(real, out, run, GainRamp{}, decode);
                if (!decode) {
                    missed += run - got;
                }
            }
            std::fill(out + got * channels, out + run * channels, 0.0f);
            out += run * channels;
            index += run;
            count -= run;
        }
        return missed;
    }
};

/// How the frames of a run are interpolated: copies at the recorded rate and
/// whole positions, otherwise the player's interpolator.
kernels::Setup setupFor(double step, bool whole, Interpolation interpolation) {
    kernels::Setup setup;
    if (step == 1.0 && whole) {
        return setup;
    }
    setup.step = uint64_t(std::llround(step * kernels::kUnit));
    if (interpolation == Interpolation::Cubic) {
        setup.kind = Kind::Cubic;
        setup.reach = {1, 2};
        return setup;
    }
    setup.kind = Kind::Sinc;
    setup.sinc = &kernels::sincTable();
    setup.scale = float(std::clamp(step, 1.0, double(kernels::kMaxSincScale)));
    if (setup.scale > 1.0f) {
        const int reach = int(std::ceil(kernels::kSincHalf * double(setup.scale)));
        setup.reach = {reach, reach};
    } else {
        setup.reach = {kernels::kSincHalf - 1, kernels::kSincHalf};
    }
    return setup;
}

/// One run of frames: one step, within one stage of the envelope, positions
/// before the sound's end (or the loop's). Frame j sits at base + (phase + j *
/// step) / 2^32, and goes to out + j * outChannels with the gain ramp's frame j.
struct Run {
    const Source& source;
    const kernels::Setup& setup;
    int64_t base;
    uint64_t phase;
    int64_t count;
    GainRamp ramp;
    float* out;
    int outChannels;
    const float* channelGains;
    bool add;
    /// Not null: frames go through the sink's filter into its target, from frame `first` on.
    const voice::FilterSink* sink = nullptr;
    int64_t first = 0;
    int64_t missed = 0;

    void render() {
        for (int64_t j = 0; j < count;) {
            const uint64_t at = phase + uint64_t(j) * setup.step;
            const int64_t first = base + kernels::whole(at) - setup.reach.before;
            const Source::Span span = source.span(first);
            const int64_t last = first + setup.reach.before + setup.reach.after;
            j += last < span.end ? inPlace(j, at, span) : gathered(j, at, span);
        }
    }

    /// Steps from position `at` to the first at or past `limit` (copies step by
    /// whole frames: no division).
    int64_t stepsUntil(uint64_t limit, uint64_t at) const {
        if (setup.kind == Kind::Copy) {
            return int64_t((limit - at + 0xffffffffu) >> 32);
        }
        return int64_t((limit - at + setup.step - 1) / setup.step);
    }

    /// Frames from j on whose neighbours all lie in `span`, read where they are.
    int64_t inPlace(int64_t j, uint64_t at, const Source::Span& span) {
        const uint64_t limit = uint64_t(span.end - setup.reach.after - base) << 32;
        const int64_t n = std::min<int64_t>(count - j, stepsUntil(limit, at));
        const int64_t shift = base - span.block.first;
        if (span.block.int16) {
            write(span.block.int16, shift, at, j, n, span.block.scale);
        } else {
            write(span.block.float32, shift, at, j, n, 1.0f);
        }
        return n;
    }

    /// Frames from j on whose neighbours cross an edge of `span` (or lie
    /// outside the sound, or are not decoded), through a scratch copy; up to
    /// where they could be read in place again.
    int64_t gathered(int64_t j, uint64_t at, const Source::Span& span) {
        const int64_t width = setup.reach.before + setup.reach.after + 1;
        const int64_t first = base + kernels::whole(at) - setup.reach.before;
        int64_t n = std::min<int64_t>(
            count - j, int64_t((uint64_t(kScratchFrames - width - 1) << 32) / setup.step) + 1);
        const int64_t lowest = source.looping && source.wrapped ? source.loopStart : 0;
        const int64_t edge = first < lowest ? lowest : span.end > 0 ? span.end : -1;
        if (edge >= 0) {
            const uint64_t clear = uint64_t(edge + setup.reach.before - base) << 32;
            n = std::min<int64_t>(n, stepsUntil(clear, at));
        }
        const uint64_t end = at + uint64_t(n - 1) * setup.step;
        const int64_t frames = kernels::whole(end) - kernels::whole(at) + width;
        float scratch[kScratchFrames * kMaxChannels];
        missed += source.fetch(first, frames, scratch);
        write(static_cast<const float*>(scratch), base - first, at, j, n, 1.0f);
        return n;
    }

    /// Frames j .. j + n - 1 from `data` (index i of the run at data + (shift + i) * channels).
    template <class Sample>
    void write(const Sample* data, int64_t shift, uint64_t at, int64_t j, int64_t n, float scale) {
        if (sink) {
            filtered(data, shift, at, j, n, scale);
        } else {
            put(data, shift, at, n, scale, j > 0 ? ramp.after(j) : ramp, out + j * outChannels,
                outChannels, channelGains, add);
        }
    }

    /// Frames from position `at` on into `to`, as write() describes them.
    template <class Sample>
    void put(const Sample* data, int64_t shift, uint64_t at, int64_t n, float scale, GainRamp gain,
             float* to, int outChannels, const float* channelGains, bool add) const {
        const int inChannels = source.channels;
#ifdef OX_AUDIO_SSE2
        if (setup.kind != Kind::Sinc && inChannels <= 2 && outChannels <= 2 && n >= 4) {
            const float factors[2] = {scale * (channelGains ? channelGains[0] : 1.0f),
                                      scale *
                                          (channelGains ? channelGains[outChannels - 1] : 1.0f)};
            const auto quads =
                kernels::quadsFor<Sample>(inChannels, outChannels, add, setup.kind == Kind::Cubic);
            const int64_t m = n & ~int64_t(3);
            quads(data, shift, at, setup.step, m, gain, factors, to);
            n -= m;
            if (n > 0) {
                at += uint64_t(m) * setup.step;
                to += m * outChannels;
                gain = gain.after(m);
            }
        }
#endif
        float frames[kChunkFrames * kMaxChannels];
        while (n > 0) {
            const int64_t m = std::min(n, kChunkFrames);
            kernels::interpolate(setup, data, shift, inChannels, at, m, scale, frames);
            kernels::mapFrames(frames, inChannels, m, gain, to, outChannels, channelGains, add);
            at += uint64_t(m) * setup.step;
            to += m * outChannels;
            n -= m;
        }
    }

    /// write() through the sink's filter: the cubic in one pass with it, what
    /// else there is (a few frames at the end, copies) through a scratch.
    template <class Sample>
    void filtered(const Sample* data, int64_t shift, uint64_t at, int64_t j, int64_t n,
                  float scale) {
        const int channels = source.channels;
        GainRamp gain = j > 0 ? ramp.after(j) : ramp;
#ifdef OX_AUDIO_SSE2
        if (setup.kind == Kind::Cubic && n >= 4) {
            // 16-bit samples load at 65536 times their value.
            const float unit = sizeof(Sample) == 2 ? 1.0f / 65536.0f : 1.0f;
            const int64_t m = n & ~int64_t(3);
            voice::filterCubic({data, shift, at, setup.step, m, gain, scale * unit}, channels,
                               *sink, first + j);
            n -= m;
            if (n == 0) {
                return;
            }
            at += uint64_t(m) * setup.step;
            j += m;
            gain = gain.after(m);
        }
#endif
        float frames[kChunkFrames * kMaxChannels];
        while (n > 0) {
            const int64_t m = std::min(n, kChunkFrames);
            put(data, shift, at, m, scale, gain, frames, channels, nullptr, false);
            voice::StereoTarget target = sink->target;
            target.out += 2 * (first + j);
            target.volume += target.slope * float(first + j);
            voice::filterInto(frames, channels, m, sink->filter, sink->memory, target);
            at += uint64_t(m) * setup.step;
            gain = gain.after(m);
            j += m;
            n -= m;
        }
    }
};

} // namespace

TQ7SamplePlayer::TQ7SamplePlayer(const std::shared_ptr<AudioStream>& stream) : m_stream(stream) {
    if (m_stream && m_stream->sampleRate() > 0) {
        m_outputRate = m_stream->sampleRate();
    }
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
        m_loopRelease = other.m_loopRelease;
        m_hasEnvelope = other.m_hasEnvelope;
        m_envelopeStarted = other.m_envelopeStarted;
        m_nonBlocking = other.m_nonBlocking;
        m_wrapped = other.m_wrapped;
        m_interpolation = other.m_interpolation;
        m_envelope = other.m_envelope;
        m_level = other.m_level;
        m_missed = other.m_missed;
        m_shape = other.m_shape;
        m_hasShape = other.m_hasShape;
        m_modulated = other.m_modulated;
        m_filterRuns = other.m_filterRuns;
        m_baseCutoff = other.m_baseCutoff;
        m_damping = other.m_damping;
        m_velocity = other.m_velocity;
        m_elapsed = other.m_elapsed;
        m_modReleased = other.m_modReleased;
        m_modReleaseLevel = other.m_modReleaseLevel;
        std::copy(&other.m_filter[0][0], &other.m_filter[0][0] + 2 * kMaxChannels, &m_filter[0][0]);
        std::copy(other.m_panGains, other.m_panGains + 2, m_panGains);
        m_filterKnown = false;
        other.m_finished = true;
    }
    return *this;
}

TQ7SamplePlayer::~TQ7SamplePlayer() = default;

const std::shared_ptr<AudioStream>& TQ7SamplePlayer::stream() const {
    return m_stream;
}

void TQ7SamplePlayer::setOutputSampleRate(int rate) {
    if (rate <= 0) {
        return;
    }
    m_outputRate = rate;
    updateStep();
}

int TQ7SamplePlayer::outputSampleRate() const {
    return m_outputRate;
}

void TQ7SamplePlayer::setTransposition(double semitones) {
    if (!std::isfinite(semitones)) {
        return;
    }
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
    m_wrapped = false;
    m_envelopeStarted = false;
    m_level = EnvelopeState();
    m_elapsed = 0;
    m_modReleased = -1;
    std::fill(&m_filter[0][0], &m_filter[0][0] + 2 * kMaxChannels, 0.0);
}

void TQ7SamplePlayer::setShape(const VoiceShape& shape) {
    m_shape = shape;
    m_hasShape = true;
    updateShape();
}

const VoiceShape* TQ7SamplePlayer::shape() const {
    return m_hasShape ? &m_shape : nullptr;
}

void TQ7SamplePlayer::setPan(float pan) {
    if (std::isnan(pan)) {
        return;
    }
    m_shape.pan = std::clamp(pan, -1.0f, 1.0f);
    m_hasShape = true;
    updateShape();
}

void TQ7SamplePlayer::setVelocity(int velocity) {
    m_velocity = std::clamp(velocity, 1, 127);
    updateShape();
}

int TQ7SamplePlayer::velocity() const {
    return m_velocity;
}

void TQ7SamplePlayer::updateShape() {
    const VoiceShape& s = m_shape;
    m_baseCutoff =
        float(hzToCents(s.cutoff) + double(s.velocityToCutoff) * double(127 - m_velocity) / 127.0);
    m_damping = voice::damping(s.resonance);
    m_filterKnown = false;
    const bool cutoffMoves =
        s.modEnvelopeToCutoff != 0.0f || (s.modLfo.frequency > 0.0f && s.modLfoToCutoff != 0.0f);
    // Fully open, still and without a peak, the filter would only cost time.
    m_filterRuns = s.filtered() && (m_baseCutoff < hzToCents(VoiceShape::kOpenCutoff) ||
                                    s.resonance > 0.0f || cutoffMoves);
    const bool moves =
        s.modEnvelopeToPitch != 0.0f ||
        (s.modLfo.frequency > 0.0f && (s.modLfoToPitch != 0.0f || s.modLfoToVolume != 0.0f)) ||
        (s.vibratoLfo.frequency > 0.0f && s.vibratoToPitch != 0.0f);
    m_modulated = m_hasShape && (m_filterRuns || moves);
    // The song renderer's law: the squares of the two gains add up to 1.
    const float pan = s.pan && !std::isnan(*s.pan) ? std::clamp(*s.pan, -1.0f, 1.0f) : 0.0f;
    const double angle = (double(pan) + 1.0) * std::numbers::pi / 4.0;
    m_panGains[0] = float(std::cos(angle));
    m_panGains[1] = float(std::sin(angle));
}

void TQ7SamplePlayer::setInterpolation(Interpolation interpolation) {
    m_interpolation = interpolation;
    if (interpolation == Interpolation::Sinc) {
        kernels::sincTable(); // built here rather than on the audio thread
    }
}

Interpolation TQ7SamplePlayer::interpolation() const {
    return m_interpolation;
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
    if (m_hasEnvelope && !m_envelopeStarted) {
        m_level.start(m_envelope, m_outputRate);
    }
    m_envelopeStarted = true;
}

void TQ7SamplePlayer::release() {
    release(releaseTime());
}

double TQ7SamplePlayer::releaseTime() const {
    if (!m_hasEnvelope) {
        return 0.0;
    }
    if (!m_envelope.releaseFromFull) {
        return m_envelope.release;
    }
    const double db = 20.0 * std::log10(std::max(double(m_level.level()), 1e-5));
    return double(m_envelope.release) * std::clamp(1.0 + db / 100.0, 0.0, 1.0);
}

void TQ7SamplePlayer::release(double seconds) {
    startEnvelope();
    if (!m_released) {
        m_modReleaseLevel = float(modEnvelopeAt(m_elapsed));
        m_modReleased = m_elapsed;
    }
    m_released = true;
    if (!m_loopRelease) {
        m_wrapped = false; // from now on the frames before the loop play as recorded
    }
    m_level.release(seconds, m_outputRate);
    m_finished = m_finished || m_level.silent();
}

void TQ7SamplePlayer::setLoopsThroughRelease(bool on) {
    m_loopRelease = on;
}

bool TQ7SamplePlayer::loopsThroughRelease() const {
    return m_loopRelease;
}

bool TQ7SamplePlayer::released() const {
    return m_released;
}

void TQ7SamplePlayer::prefetch(int64_t frames) {
    if (!m_stream || frames <= 0) {
        return;
    }
    // Until a loop wraps back over frames decoded already, the cursor only moves
    // forward; the interpolator reads a few frames past it.
    const int after = setupFor(m_step, false, m_interpolation).reach.after;
    const double end = std::floor(m_position + double(frames) * m_step) + 1.0 + after;
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
    m_step = stepFor(m_transposition);
}

double TQ7SamplePlayer::stepFor(double semitones) const {
    const int rate = m_stream ? m_stream->sampleRate() : 0;
    if (rate <= 0) {
        return 1.0;
    }
    // Exactly 1.0 at transposition 0 and equal rates, which selects the copying path.
    const double step = std::exp2(semitones / 12.0) * double(rate) / double(m_outputRate);
    return std::clamp(step, 1.0 / kMaxStep, kMaxStep);
}

int64_t TQ7SamplePlayer::render(float* out, int64_t frames, int outChannels) {
    return voice(out, frames, outChannels, nullptr, false);
}

int64_t TQ7SamplePlayer::mix(float* out, int64_t frames, int outChannels,
                             const float* channelGains) {
    return voice(out, frames, outChannels, channelGains, true);
}

double TQ7SamplePlayer::modEnvelopeAt(int64_t elapsed) const {
    const double rate = double(m_outputRate);
    if (m_modReleased < 0) {
        return voice::envelopeAt(m_shape.modEnvelope, double(elapsed) / rate,
                                 m_shape.modAttackConvex);
    }
    const double since = double(elapsed - m_modReleased) / rate;
    const double release = m_shape.modEnvelope.release;
    return since >= release ? 0.0 : m_modReleaseLevel * (1.0 - since / release);
}

const float* TQ7SamplePlayer::panned(int outChannels, const float* channelGains,
                                     float* gains) const {
    if (!m_shape.pan || outChannels != 2) {
        return channelGains;
    }
    gains[0] = m_panGains[0] * (channelGains ? channelGains[0] : 1.0f);
    gains[1] = m_panGains[1] * (channelGains ? channelGains[1] : 1.0f);
    return gains;
}

int64_t TQ7SamplePlayer::voice(float* out, int64_t frames, int outChannels,
                               const float* channelGains, bool add) {
    if (!m_hasShape) {
        return play(out, frames, outChannels, channelGains, add);
    }
    float gains[2];
    const float* mapped = panned(outChannels, channelGains, gains);
    if (!m_modulated || !out || frames <= 0 || outChannels <= 0 || !m_stream || m_stream->empty()) {
        return play(out, frames, outChannels, mapped, add);
    }
    return playShaped(out, frames, outChannels, mapped, add);
}

double TQ7SamplePlayer::filtersAt(const int64_t* middles, int steps,
                                  const voice::LowPassSteps** filters, voice::LowPassSteps* fresh) {
    static_assert(sizeof(voice::LowPassSteps) == sizeof(m_filterSteps));
    // Each step's cutoff at its middle: it moves by at most a little per step.
    const VoiceShape& s = m_shape;
    const double perFrame = 1.0 / double(m_outputRate);
    const auto* kept = std::launder(reinterpret_cast<const voice::LowPassSteps*>(m_filterSteps));
    voice::LowPassSteps* targets[kControlFrames / kShapeFrames];
    double cents[kControlFrames / kShapeFrames];
    int count = 0;
    double cutoff = 0.0;
    for (int k = 0; k < steps; ++k) {
        cutoff = m_baseCutoff;
        if (s.modEnvelopeToCutoff != 0.0f) {
            cutoff += modEnvelopeAt(middles[k]) * s.modEnvelopeToCutoff;
        }
        if (s.modLfoToCutoff != 0.0f) {
            cutoff += voice::lfoAt(s.modLfo, double(middles[k]) * perFrame) * s.modLfoToCutoff;
        }
        if (m_filterKnown && cutoff == m_filterCents) {
            filters[k] = kept;
        } else if (count > 0 && cutoff == cents[count - 1]) {
            filters[k] = targets[count - 1];
        } else {
            targets[count] = &fresh[k];
            cents[count++] = cutoff;
            filters[k] = &fresh[k];
        }
    }
    // All at once, four side by side: as cheap as one.
    voice::setStepsAtCents(targets, cents, count, m_outputRate, m_damping);
    return cutoff;
}

void TQ7SamplePlayer::keepFilter(const voice::LowPassSteps& filter, double cents) {
    auto* kept = std::launder(reinterpret_cast<voice::LowPassSteps*>(m_filterSteps));
    if (!m_filterKnown) {
        kept = new (m_filterSteps) voice::LowPassSteps;
    }
    if (&filter != kept) {
        *kept = filter;
    }
    m_filterCents = cents;
    m_filterKnown = true;
}

int64_t TQ7SamplePlayer::playShaped(float* out, int64_t frames, int outChannels,
                                    const float* channelGains, bool add) {
    const VoiceShape& s = m_shape;
    const int rate = m_outputRate;
    // The voice is rendered at the source's channels (one for a mono output),
    // filtered there, then spread over the output as an unshaped voice is.
    const int channels = outChannels == 1 ? 1 : std::clamp(m_stream->channels(), 1, kMaxChannels);
    // The LFO's volume, dB to gain: 10^(dB / 20) = 2^(dB * log2(10) / 20).
    const double toVolume =
        s.modLfo.frequency > 0.0f ? double(s.modLfoToVolume) * std::log2(10.0) / 20.0 : 0.0;
    const double perFrame = 1.0 / double(rate);
    // Each block opens where the last one closed.
    double lfo0 = voice::lfoAt(s.modLfo, double(m_elapsed) * perFrame);
    float v0 = toVolume != 0.0 ? float(voice::exp2Fast(lfo0 * toVolume)) : 1.0f;
    const double plainStep = stepFor(m_transposition);
    // stepFor() with the cheaper exponential, for the moving pitch.
    const int sourceRate = m_stream->sampleRate();
    const double rates = sourceRate > 0 ? double(sourceRate) / double(rate) : 0.0;
    int64_t missed = 0;
    int64_t done = 0;
    const float gains[2] = {channelGains ? channelGains[0] : 1.0f,
                            channelGains ? channelGains[1] : 1.0f};
    while (done < frames && !m_finished) {
        const int64_t n = std::min(frames - done, kControlFrames);
        // The pitch, the cutoff and the volume move every kShapeFrames. Each
        // setting is a long chain of dependent arithmetic; worked out for the
        // whole block before it renders, side by side in vectors, those of a
        // block overlap.
        constexpr int kMostSteps = int(kControlFrames / kShapeFrames);
        const int steps = int((n + kShapeFrames - 1) / kShapeFrames);
        // The exponents: of the pitch steps, then of the volumes at each step's end.
        double powers[2 * kMostSteps];
        bool moving[kMostSteps];
        int64_t middles[kMostSteps];
        for (int k = 0; k < steps; ++k) {
            const int64_t start = m_elapsed + k * kShapeFrames;
            const int64_t m = std::min(kShapeFrames, n - k * kShapeFrames);
            double cents = lfo0 * s.modLfoToPitch;
            if (s.modEnvelopeToPitch != 0.0f) {
                cents += modEnvelopeAt(start) * s.modEnvelopeToPitch;
            }
            if (s.vibratoToPitch != 0.0f) {
                cents += voice::lfoAt(s.vibratoLfo, double(start) * perFrame) * s.vibratoToPitch;
            }
            moving[k] = cents != 0.0 && rates != 0.0;
            powers[k] = (100.0 * m_transposition + cents) / 1200.0;
            lfo0 = voice::lfoAt(s.modLfo, double(start + m) * perFrame);
            powers[steps + k] = lfo0 * toVolume;
            middles[k] = start + m / 2;
        }
        voice::exp2Each(powers, toVolume != 0.0 ? 2 * steps : steps);
        double pitch[kMostSteps];
        float volumes[kMostSteps + 1] = {v0};
        for (int k = 0; k < steps; ++k) {
            pitch[k] =
                moving[k] ? std::clamp(rates * powers[k], 1.0 / kMaxStep, kMaxStep) : plainStep;
            volumes[k + 1] = toVolume != 0.0 ? float(powers[steps + k]) : 1.0f;
        }
        v0 = volumes[steps];
        const voice::LowPassSteps* filters[kMostSteps] = {};
        voice::LowPassSteps fresh[kMostSteps];
        const double lastCutoff = m_filterRuns ? filtersAt(middles, steps, filters, fresh) : 0.0;

        int64_t got = 0;
        const bool planned = outChannels == 2 && channels <= 2 && m_filterRuns;
        if (planned) {
            // Rendered straight through the filter into the output, all the
            // block's steps in one call.
            voice::FilterSink sinks[kMostSteps];
            for (int k = 0; k < steps; ++k) {
                const int64_t at = done + k * kShapeFrames;
                const int64_t m = std::min(kShapeFrames, n - k * kShapeFrames);
                const float slope = (volumes[k + 1] - volumes[k]) / float(m);
                sinks[k] = {filters[k],
                            m_filter,
                            {out + at * outChannels, {gains[0], gains[1]}, volumes[k], slope, add}};
            }
            const voice::SinkSteps plan{pitch, sinks, kShapeFrames};
            got = play(out + done * outChannels, n, channels, nullptr, false, &plan);
            missed += m_missed;
        }
        for (int k = 0; !planned && k < steps && got == k * kShapeFrames; ++k) {
            const int64_t m = std::min(kShapeFrames, n - got);
            m_step = pitch[k];
            const float slope = (volumes[k + 1] - volumes[k]) / float(m);
            float* to = out + (done + got) * outChannels;
            float scratch[kShapeFrames * kMaxChannels];
            const int64_t count = play(scratch, m, channels, nullptr, false);
            missed += m_missed;
            if (outChannels == 2 && channels <= 2) {
                const voice::StereoTarget target{to, {gains[0], gains[1]}, volumes[k], slope, add};
                voice::filterInto(scratch, channels, count, filters[k], m_filter, target);
            } else {
                if (m_filterRuns) {
                    voice::lowPass(scratch, channels, count, filters[k]->step, m_filter);
                }
                GainRamp ramp{1.0f, volumes[k], 1.0f, slope};
                kernels::mapFrames(scratch, channels, count, ramp, to, outChannels, channelGains,
                                   add);
            }
            got += count;
        }
        if (m_filterRuns) {
            keepFilter(*filters[steps - 1], lastCutoff);
        }
        m_elapsed += n;
        done += got;
        if (got < n) {
            break;
        }
    }
    m_step = plainStep;
    m_missed = missed;
    if (!add) {
        std::fill(out + done * outChannels, out + frames * outChannels, 0.0f);
    }
    return done;
}

int64_t TQ7SamplePlayer::play(float* out, int64_t frames, int outChannels,
                              const float* channelGains, bool add, const voice::SinkSteps* steps) {
    if (!out || frames <= 0 || outChannels <= 0) {
        return 0;
    }
    m_missed = 0;
    startEnvelope();
    const AudioStream* stream = m_stream.get();
    if (!stream || stream->empty() || m_level.silent()) {
        if (!add && !steps) {
            std::fill(out, out + frames * outChannels, 0.0f);
        }
        m_finished = true;
        return 0;
    }
    Source source(*stream, m_released && !m_loopRelease, m_wrapped, !m_nonBlocking);

    int64_t done = 0;
    // Without steps, one step of all the frames at m_step.
    const voice::FilterSink* sink = nullptr;
    int64_t stepStart = 0;
    int64_t stepEnd = frames;
    while (done < frames) {
        if (steps) {
            const int64_t k = done / steps->frames;
            stepStart = k * steps->frames;
            stepEnd = std::min(frames, stepStart + steps->frames);
            sink = &steps->sinks[k];
            m_step = steps->pitch[k];
        }
        if ((!source.looping && m_position >= double(source.frames)) || m_level.silent()) {
            m_finished = true;
            break;
        }
        const double whole = std::floor(m_position);
        const kernels::Setup setup = setupFor(m_step, m_position == whole, m_interpolation);
        // A run stays within one stage of the envelope, and ends at the sound's
        // end or, looping, where the cursor goes round.
        const double end = double(source.looping ? source.loopEnd : source.frames);
        int64_t count = std::min({stepEnd - done, m_level.left(), kRunFrames,
                                  int64_t(std::ceil((end - m_position) / m_step))});
        count = std::max<int64_t>(count, 1);
        const int64_t base = int64_t(whole);
        const uint64_t phase = uint64_t((m_position - whole) * kernels::kUnit + 0.5);
        const int64_t first = base - setup.reach.before;
        const int64_t last =
            base + kernels::whole(phase + uint64_t(count - 1) * setup.step) + setup.reach.after;
        if (!source.prepare(first, last)) {
            source = Source(*stream, m_released && !m_loopRelease, m_wrapped, !m_nonBlocking);
            continue;
        }
        const GainRamp ramp{m_gain, m_level.level(), m_level.ratio(), m_level.slope()};
        Run run{
            source,      setup,        base, phase, count,           ramp, out + done * outChannels,
            outChannels, channelGains, add,  sink,  done - stepStart};
        run.render();
        m_missed += run.missed;
        m_level.advance(count);
        m_position += setup.kind == Kind::Copy ? double(count) : double(count) * m_step;
        if (source.looping && m_position >= double(source.loopEnd)) {
            m_position =
                double(source.loopStart) + std::fmod(m_position - double(source.loopStart),
                                                     double(source.loopEnd - source.loopStart));
            m_wrapped = source.wrapped = true;
        }
        done += count;
    }
    if (!add && !steps) {
        std::fill(out + done * outChannels, out + frames * outChannels, 0.0f);
    }
    if ((!source.looping && m_position >= double(source.frames)) || m_level.silent()) {
        m_finished = true;
    }
    return done;
}

} // namespace ox::audio
