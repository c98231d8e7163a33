#pragma once

#include <ox/audio/IDecoder.h>
#include <ox/stream/IStream.h>

#include <memory>

namespace ox::audio {

// Each factory decodes only its own format and returns an empty pointer for a
// stream it cannot decode (garbage, truncated, another format). The decoder
// keeps the stream and reads it through its own view, so several decoders of
// one stream never disturb each other's position.
// Threads: making and using a decoder reads the file and allocates: not for an
// audio thread. One decoder is used by one thread at a time.

struct FlacDecoder {
    static std::shared_ptr<IDecoder> make(const std::shared_ptr<ox::stream::IStream>& stream,
                                          float gain);
};

struct OggVorbisDecoder {
    static std::shared_ptr<IDecoder> make(const std::shared_ptr<ox::stream::IStream>& stream,
                                          float gain);
};

struct WavDecoder {
    /// `floatOutput`: decode to float even for integer sources (no compact 16-bit hold).
    static std::shared_ptr<IDecoder> make(const std::shared_ptr<ox::stream::IStream>& stream,
                                          float gain, bool floatOutput);
};

} // namespace ox::audio
