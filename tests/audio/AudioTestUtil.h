#pragma once

// Small helpers shared by the audio tests: encoded tones as streams, and
// libsndfile's own reading of a file as the reference.

#include "support/TestSupport.h"

#include <ox/audio/AudioStream.h>
#include <ox/audio/Decoders.h>

#include <sndfile.h>

#include <memory>
#include <string>
#include <vector>

namespace oxtest {

/// The decoder each format calls for.
inline std::shared_ptr<ox::audio::IDecoder>
decoderFor(AudioFormat format, const std::shared_ptr<ox::stream::IStream>& s, float gain = 1.0f) {
    if (format == AudioFormat::OggVorbis)
        return ox::audio::OggVorbisDecoder::make(s, gain);
    if (format == AudioFormat::Flac16 || format == AudioFormat::Flac24)
        return ox::audio::FlacDecoder::make(s, gain);
    return ox::audio::WavDecoder::make(s, gain, false);
}

inline std::shared_ptr<ox::audio::AudioStream> audioStreamOf(AudioFormat format, const Tone& tone,
                                                             float gain = 1.0f) {
    return std::make_shared<ox::audio::AudioStream>(
        decoderFor(format, memoryStream(encodeTone(format, tone)), gain), 0);
}

/// All frames of an encoded file as libsndfile reads them, as float.
inline std::vector<float> referenceFrames(const std::string& bytes) {
    TempDir dir;
    const std::string path = dir.file("reference.bin");
    writeFile(path, bytes);
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    frames.resize(static_cast<size_t>(got * info.channels));
    return frames;
}

} // namespace oxtest
