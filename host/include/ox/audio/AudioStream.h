#pragma once

#include <ox/audio/IDecoder.h>

#include <cstdint>
#include <memory>

/// \file
/// The decoded audio of one sample file, shared by its players (AudioStream),
/// and the per-frame gain its copies apply (GainRamp).

namespace ox::audio {

/// A gain that changes from frame to frame: frame k of a copy is multiplied by
/// `gain * g(k)`, where g(0) = start and g(k + 1) = g(k) * ratio + slope (a
/// straight line in amplitude when ratio is 1, in decibels when slope is 0). The
/// default leaves the frames as they are; with g fixed at 1 the result is bit
/// for bit a copy multiplied by `gain`.
struct GainRamp {
    float gain = 1.0f;  ///< linear factor on every frame
    float start = 1.0f; ///< g(0), the first frame's factor before `gain`
    float ratio = 1.0f; ///< g(k + 1) = g(k) * ratio + slope
    float slope = 0.0f; ///< see `ratio`

    /// True when every frame gets the same factor, `gain * start`.
    bool constant() const { return ratio == 1.0f && slope == 0.0f; }
    /// The same ramp `frames` frames on.
    GainRamp after(int64_t frames) const;
};

/// The decoded audio of one sample file, shared by every player of it.
///
/// Decoding is progressive: the constructor decodes a first block; later blocks
/// are decoded once, on demand, when a player first reaches them, and are kept
/// for every other player. Players of one stream may render on different
/// threads at once. Sources of 16 bits or fewer are held at 2 bytes per sample.
/// A stream built over an empty decoder is empty: 0 frames, 0 bytes, silence.
///
/// Threads: every call is thread-safe. On an audio thread: everything but the
/// constructor, ensureDecoded() and the decoding readFrames(), which decode on the
/// calling thread when they reach frames not decoded yet (a lock another thread may
/// hold, an allocation and codec work); the non-decoding readFrames() never does.
class AudioStream {
public:
    /// `preloadFrames`: frames to decode at once; 0 means one default block.
    AudioStream(const std::shared_ptr<IDecoder>& decoder, long long preloadFrames);
    ~AudioStream();
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    /// Plays once from now on, ignoring the file's loop region.
    void disableLoop() const;
    /// Whether players loop (the file has a loop region and it was not disabled).
    bool looping() const;
    /// Bytes of decoded audio held now.
    unsigned long long byteCount() const;
    /// The decoder the stream reads from.
    const std::shared_ptr<IDecoder>& decoder() const;

    /// True for a stream without frames (an empty or unreadable source): it plays silence.
    bool empty() const;
    /// Samples per frame, as the decoder gives them.
    int channels() const;
    /// Frames per second of the source.
    int sampleRate() const;
    /// Frames of the sound: the decoder's count, until decoding finds the file
    /// shorter; from then on the frames it really holds.
    int64_t frameCount() const;
    /// The linear gain applied to every frame (the decoder's).
    float gain() const;
    /// The loop region in frames, from its first frame to one past its last
    /// (meaningful when looping()).
    ///@{
    int64_t loopStart() const;
    int64_t loopEnd() const;
    ///@}

    /// Copies frames [first, first + count) as interleaved float with the gain
    /// applied, decoding what is missing; returns the frames copied (short at the end).
    int64_t readFrames(int64_t first, float* out, int64_t count) const;
    /// As readFrames, with the frames of the copy also multiplied by `gain`, in
    /// the copying loop. With `decode` false it decodes nothing and takes no lock:
    /// it copies only the frames decoded already, from `first` on, and returns how many.
    int64_t readFrames(int64_t first, float* out, int64_t count, GainRamp gain, bool decode) const;
    /// Makes sure every frame before `end` is decoded; returns the frames available.
    /// A host's loader thread may call it while players of the stream render.
    int64_t ensureDecoded(int64_t end) const;
    /// Frames decoded so far.
    int64_t decodedFrames() const;

    /// One storage block in place, for render loops that read the samples
    /// themselves: `frames` interleaved frames from frame `first` on, of which the
    /// first `decoded` are decoded (read no further). Sources of 16 bits or fewer
    /// are held as int16, to be multiplied by `scale` (the gain included); others
    /// as float with the gain applied. All null and 0 outside the sound.
    struct Block {
        const int16_t* int16 = nullptr; ///< the samples of a 16-bit block, else null
        const float* float32 = nullptr; ///< the samples of a float block, else null
        float scale = 1.0f;             ///< takes the int16 samples to float, the gain included
        int64_t first = 0;              ///< the stream's frame of the block's first frame
        int64_t frames = 0;             ///< frames the block holds when decoded
        int64_t decoded = 0;            ///< of those, decoded now
    };
    /// The block that holds `frame`. Never decodes, never locks, never allocates.
    Block block(int64_t frame) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace ox::audio
