#pragma once

#include <cstdint>

/// \file
/// The interface of an audio decoder: IDecoder. Decoders.h makes them.

/// The host's audio library (OXAudio): decoders, decoded streams, sample players
/// and per-sample corrections.
namespace ox::audio {

/// The most channels a file may have: the library's decoders refuse more, audio
/// streams hold no more, and a player's fixed stack buffers are sized by it.
inline constexpr int kMaxChannels = 8;

/// A decoder of one encoded audio file. Frames are interleaved.
///
/// Decoders are shared (std::shared_ptr); one keeps the stream it reads alive.
/// Float output carries the gain the decoder was made with; 16-bit output does not.
/// Nothing throws: a short read returns fewer frames.
///
/// Threads: one thread at a time; reading and seeking do codec work and may
/// allocate, so not on an audio thread (AudioStream calls them under its lock).
class IDecoder {
public:
    /// A loop region, in frames.
    struct Loop {
        int64_t start = 0; ///< first frame of the loop
        int64_t end = 0;   ///< one past the last frame of the loop
    };

    virtual ~IDecoder();

    /// Samples per frame (interleaved channels); 1 to kMaxChannels for the library's decoders.
    virtual int channels() const = 0;
    /// Frames per second of the source.
    virtual int sampleRate() const = 0;
    /// Frames in the source as its header states them; a truncated file delivers
    /// fewer.
    virtual int64_t frameCount() const = 0;
    /// The linear gain the decoder was made with.
    virtual float gain() const = 0;
    /// Bits per sample of the source when it is integer PCM (8, 16, 24, 32), 0 otherwise.
    virtual int bitsPerSample() const = 0;
    /// The loop region from the file's metadata; false when it has none.
    virtual bool loop(Loop& loop) const = 0;
    /// The loop region as the file's metadata states it, also when it is empty
    /// or reaches outside the file (loop() then gives none); false when the
    /// file states none.
    virtual bool declaredLoop(Loop& loop) const { return this->loop(loop); }

    /// Reads up to `frames` frames as float with the gain applied; returns the number read.
    virtual int64_t readFrames(float* out, int64_t frames) = 0;
    /// Reads up to `frames` frames as 16-bit integers without the gain (for
    /// sources of 16 bits or fewer, held compactly); returns the number read.
    virtual int64_t readFrames16(int16_t* out, int64_t frames) = 0;
    /// Moves the read position to `frame`; false, and nothing moved, outside 0 to
    /// frameCount().
    virtual bool seekFrame(int64_t frame) = 0;
};

} // namespace ox::audio
