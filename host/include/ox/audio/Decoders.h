#pragma once

#include <ox/audio/IDecoder.h>
#include <ox/stream/IStream.h>

#include <memory>

/// \file
/// The decoders of the three sample formats: FLAC, Ogg Vorbis and WAV.
///
/// Each factory decodes only its own format and returns an empty pointer for a
/// stream it cannot decode (garbage, truncated, another format). The decoder
/// keeps the stream and reads it through its own view, so several decoders of
/// one stream never disturb each other's position.
///
/// Every factory takes a linear `gain` (1 leaves the audio as it is) that the
/// decoder applies to its float output, and refuses a null or empty stream and a
/// source outside 1 to 8 channels, 1 to 384000 Hz or 2^31 samples. A FLAC or Ogg
/// Vorbis file loops when a comment reads `LOOPSTART=<frame>;LOOPLENGTH=<frames>`, a
/// WAV file when its smpl chunk has a loop (the first one). A loop that is empty or
/// reaches past the end is no loop (IDecoder::declaredLoop() still gives it).
///
/// Threads: making and using a decoder reads the file and allocates: not for an
/// audio thread. One decoder is used by one thread at a time.

namespace ox::audio {

/// Decodes FLAC.
struct FlacDecoder {
    /// A decoder of `stream` if it is FLAC; empty otherwise.
    static std::shared_ptr<IDecoder> make(const std::shared_ptr<ox::stream::IStream>& stream,
                                          float gain);
};

/// Decodes Ogg Vorbis.
struct OggVorbisDecoder {
    /// A decoder of `stream` if it is Ogg Vorbis; empty otherwise.
    static std::shared_ptr<IDecoder> make(const std::shared_ptr<ox::stream::IStream>& stream,
                                          float gain);
};

/// Decodes WAV (RIFF, RIFX, RF64 and BW64).
struct WavDecoder {
    /// A decoder of `stream` if it is WAV; empty otherwise.
    /// `floatOutput`: decode to float even for integer sources (no compact 16-bit hold).
    static std::shared_ptr<IDecoder> make(const std::shared_ptr<ox::stream::IStream>& stream,
                                          float gain, bool floatOutput);
};

} // namespace ox::audio
