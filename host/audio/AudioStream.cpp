#include <ox/audio/AudioStream.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace ox::audio {

namespace {

// Frames per storage block: small enough that the first note waits for little
// decoding, large enough that blocks cost next to nothing to manage.
constexpr int64_t kBlockFrames = 16384;
constexpr int kLaneSamples = 32;

/// The ramped part of scaledCopy: whole steps of kLaneSamples samples, each
/// sample position with a running factor of its own, so that no multiply waits
/// for the previous frame's (compilers keep the lanes in vector registers). A
/// line in decibels (slope 0) multiplies every lane by ratio^n a step, a line in
/// amplitude (ratio 1) adds n * slope, n being the frames of a step; a general
/// update of the lanes compiles to far slower code. Returns the frames done; `g`
/// is then the factor of the next frame.
template <int Channels, bool InDecibels, class Sample>
int rampedLanes(const Sample* in, float* out, int frames, float& g, float ratio, float slope) {
    constexpr int step = kLaneSamples / Channels;
    float lane[kLaneSamples];
    double change = InDecibels ? 1.0 : 0.0;
    for (int k = 0; k < step; ++k) {
        for (int c = 0; c < Channels; ++c) {
            lane[k * Channels + c] = g;
        }
        g = g * ratio + slope;
        change = InDecibels ? change * ratio : change + slope;
    }
    const float laneChange = float(change);
    int f = 0;
    for (; f + step <= frames; f += step) {
        const Sample* x = in + f * Channels;
        float* y = out + f * Channels;
        for (int k = 0; k < kLaneSamples; ++k) {
            y[k] = float(x[k]) * lane[k];
        }
        for (int k = 0; k < kLaneSamples; ++k) {
            lane[k] = InDecibels ? lane[k] * laneChange : lane[k] + laneChange;
        }
    }
    g = lane[0];
    return f;
}

template <int Channels, class Sample>
int rampedLanes(const Sample* in, float* out, int frames, float& g, float ratio, float slope) {
    if (slope == 0.0f) {
        return rampedLanes<Channels, true>(in, out, frames, g, ratio, slope);
    }
    if (ratio == 1.0f) {
        return rampedLanes<Channels, false>(in, out, frames, g, ratio, slope);
    }
    return 0;
}

/// out = in * scale * ramp for `frames` frames of `channels` samples, in one
/// pass. `frames` is at most one block. The constant loops are unrolled: left to
/// the compiler, their speed varied by half from build to build with where they
/// happened to be placed.
template <class Sample>
void scaledCopy(const Sample* in, float* out, int frames, int channels, float scale,
                GainRamp ramp) {
    const int samples = frames * channels;
    if (ramp.constant() && ramp.start == 1.0f && ramp.gain != 1.0f) {
        // The gain alone: bit for bit what copying and then multiplying by it gives.
#pragma GCC unroll 4
        for (int i = 0; i < samples; ++i) {
            out[i] = float(in[i]) * scale * ramp.gain;
        }
        return;
    }
    // One factor a sample, whatever the ramp.
    float g = scale * ramp.gain * ramp.start;
    if (ramp.constant()) {
#pragma GCC unroll 4
        for (int i = 0; i < samples; ++i) {
            out[i] = float(in[i]) * g;
        }
        return;
    }
    const float slope = scale * ramp.gain * ramp.slope;
    int f = 0;
    if (channels == 2) {
        f = rampedLanes<2>(in, out, frames, g, ramp.ratio, slope);
    } else if (channels == 1) {
        f = rampedLanes<1>(in, out, frames, g, ramp.ratio, slope);
    }
    for (; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            out[f * channels + c] = float(in[f * channels + c]) * g;
        }
        g = g * ramp.ratio + slope;
    }
}

} // namespace

GainRamp GainRamp::after(int64_t frames) const {
    GainRamp next = *this;
    if (ratio == 1.0f) {
        next.start = start + float(frames) * slope;
    } else {
        const double power = std::pow(double(ratio), double(frames));
        next.start = float(start * power + slope * (power - 1.0) / (double(ratio) - 1.0));
    }
    return next;
}

struct AudioStream::Impl {
    std::shared_ptr<IDecoder> decoder;
    int channels = 0;
    int sampleRate = 0;
    float gain = 1.0f;
    bool compact = false; ///< held as int16, gain applied when read
    int bytesPerSample = 4;
    bool hasLoop = false;
    int64_t loopStart = 0;
    int64_t loopEnd = 0;

    /// Frames the stream plays; shrinks when the decoder delivers fewer than it announced.
    std::atomic<int64_t> frames{0};
    /// Frames decoded and published to readers (release on store, acquire on load).
    std::atomic<int64_t> decoded{0};
    std::atomic<uint64_t> bytes{0};
    mutable std::atomic<bool> loopDisabled{false};

    /// Guards the decoder and the allocation of blocks; readers of frames that are
    /// already decoded never take it.
    std::mutex decodeMutex;
    /// One slot per block, sized once so readers can index it without the lock.
    std::vector<std::unique_ptr<char[]>> blocks;

    int64_t ensureDecoded(int64_t end);
    void decodeNextBlock();
    void copyFrames(int64_t first, float* out, int64_t count, GainRamp ramp) const;
};

int64_t AudioStream::Impl::ensureDecoded(int64_t end) {
    end = std::min(end, frames.load(std::memory_order_acquire));
    int64_t have = decoded.load(std::memory_order_acquire);
    if (have >= end) {
        return have;
    }
    std::lock_guard lock(decodeMutex);
    while (decoded.load(std::memory_order_relaxed) < std::min(end, frames.load())) {
        decodeNextBlock();
    }
    return decoded.load(std::memory_order_relaxed);
}

// Called with decodeMutex held. Decodes from the first missing frame to the end
// of its block; a short read ends the sound there.
void AudioStream::Impl::decodeNextBlock() {
    const int64_t start = decoded.load(std::memory_order_relaxed);
    const int64_t total = frames.load(std::memory_order_relaxed);
    const size_t index = static_cast<size_t>(start / kBlockFrames);
    const int64_t blockStart = int64_t(index) * kBlockFrames;
    const int64_t blockFrames = std::min(kBlockFrames, total - blockStart);
    auto& block = blocks[index];
    if (!block) {
        const size_t size = static_cast<size_t>(blockFrames * channels * bytesPerSample);
        block.reset(new char[size]);
        bytes.fetch_add(size, std::memory_order_relaxed);
    }
    const int64_t wanted = blockStart + blockFrames - start;
    char* at = block.get() + (start - blockStart) * channels * bytesPerSample;
    const int64_t got = compact ? decoder->readFrames16(reinterpret_cast<int16_t*>(at), wanted)
                                : decoder->readFrames(reinterpret_cast<float*>(at), wanted);
    const int64_t read = std::clamp<int64_t>(got, 0, wanted);
    if (read < wanted) {
        frames.store(start + read, std::memory_order_release);
    }
    decoded.store(start + read, std::memory_order_release);
}

// Frames [first, first + count) must be decoded.
void AudioStream::Impl::copyFrames(int64_t first, float* out, int64_t count, GainRamp ramp) const {
    const float scale = compact ? gain / 32768.0f : 1.0f;
    while (count > 0) {
        const size_t index = static_cast<size_t>(first / kBlockFrames);
        const int64_t offset = first - int64_t(index) * kBlockFrames;
        const int64_t run = std::min(count, kBlockFrames - offset);
        const int64_t samples = run * channels;
        const char* block = blocks[index].get();
        if (compact) {
            const int16_t* in = reinterpret_cast<const int16_t*>(block) + offset * channels;
            scaledCopy(in, out, int(run), channels, scale, ramp);
        } else {
            const float* in = reinterpret_cast<const float*>(block) + offset * channels;
            if (ramp.gain == 1.0f && ramp.start == 1.0f && ramp.constant()) {
                std::memcpy(out, in, static_cast<size_t>(samples) * sizeof(float));
            } else {
                scaledCopy(in, out, int(run), channels, scale, ramp);
            }
        }
        out += samples;
        first += run;
        count -= run;
        if (count > 0) {
            ramp = ramp.after(run);
        }
    }
}

AudioStream::AudioStream(const std::shared_ptr<IDecoder>& decoder, long long preloadFrames)
    : m_impl(new Impl) {
    m_impl->decoder = decoder;
    if (!decoder) {
        return;
    }
    const int channels = decoder->channels();
    const int rate = decoder->sampleRate();
    const int64_t frames = decoder->frameCount();
    if (channels < 1 || channels > kMaxChannels || rate < 1 || frames <= 0 ||
        frames > (int64_t(1) << 31) / channels) {
        return;
    }
    m_impl->channels = channels;
    m_impl->sampleRate = rate;
    m_impl->gain = decoder->gain();
    const int bits = decoder->bitsPerSample();
    m_impl->compact = bits >= 1 && bits <= 16;
    m_impl->bytesPerSample = m_impl->compact ? 2 : 4;
    IDecoder::Loop loop;
    if (decoder->loop(loop) && loop.start >= 0 && loop.end > loop.start && loop.end <= frames) {
        m_impl->hasLoop = true;
        m_impl->loopStart = loop.start;
        m_impl->loopEnd = loop.end;
    }
    m_impl->blocks.resize(static_cast<size_t>((frames + kBlockFrames - 1) / kBlockFrames));
    m_impl->frames.store(frames);
    m_impl->ensureDecoded(preloadFrames > 0 ? preloadFrames : kBlockFrames);
}

AudioStream::~AudioStream() = default;

void AudioStream::disableLoop() const {
    m_impl->loopDisabled.store(true, std::memory_order_relaxed);
}

bool AudioStream::looping() const {
    // A loop that a short decode cut off is no longer playable.
    return m_impl->hasLoop && !m_impl->loopDisabled.load(std::memory_order_relaxed) &&
           m_impl->loopEnd <= m_impl->frames.load(std::memory_order_acquire);
}

unsigned long long AudioStream::byteCount() const {
    return m_impl->bytes.load(std::memory_order_relaxed);
}

const std::shared_ptr<IDecoder>& AudioStream::decoder() const {
    return m_impl->decoder;
}

bool AudioStream::empty() const {
    return frameCount() == 0;
}
int AudioStream::channels() const {
    return m_impl->channels;
}
int AudioStream::sampleRate() const {
    return m_impl->sampleRate;
}
int64_t AudioStream::frameCount() const {
    return m_impl->frames.load(std::memory_order_acquire);
}
float AudioStream::gain() const {
    return m_impl->gain;
}
int64_t AudioStream::loopStart() const {
    return m_impl->loopStart;
}
int64_t AudioStream::loopEnd() const {
    return m_impl->loopEnd;
}

int64_t AudioStream::readFrames(int64_t first, float* out, int64_t count) const {
    return readFrames(first, out, count, GainRamp{}, true);
}

int64_t AudioStream::readFrames(int64_t first, float* out, int64_t count, GainRamp gain,
                                bool decode) const {
    if (first < 0 || count <= 0 || !out || first >= frameCount()) {
        return 0;
    }
    count = std::min(count, frameCount() - first);
    const int64_t available = decode ? m_impl->ensureDecoded(first + count)
                                     : m_impl->decoded.load(std::memory_order_acquire);
    const int64_t copied = std::clamp<int64_t>(available - first, 0, count);
    m_impl->copyFrames(first, out, copied, gain);
    return copied;
}

int64_t AudioStream::ensureDecoded(int64_t end) const {
    return m_impl->ensureDecoded(end);
}

int64_t AudioStream::decodedFrames() const {
    return m_impl->decoded.load(std::memory_order_acquire);
}

AudioStream::Block AudioStream::block(int64_t frame) const {
    Block block;
    const int64_t decoded = m_impl->decoded.load(std::memory_order_acquire);
    const int64_t total = frameCount();
    if (frame < 0 || frame >= total) {
        return block;
    }
    const size_t index = static_cast<size_t>(frame / kBlockFrames);
    block.first = int64_t(index) * kBlockFrames;
    block.frames = std::min(kBlockFrames, total - block.first);
    block.decoded = std::clamp<int64_t>(decoded - block.first, 0, block.frames);
    if (block.decoded == 0) {
        return block; // its storage may not exist yet
    }
    const char* data = m_impl->blocks[index].get();
    if (m_impl->compact) {
        block.int16 = reinterpret_cast<const int16_t*>(data);
        block.scale = m_impl->gain / 32768.0f;
    } else {
        block.float32 = reinterpret_cast<const float*>(data);
    }
    return block;
}

} // namespace ox::audio
