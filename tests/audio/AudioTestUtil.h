#pragma once

// Small helpers shared by the audio tests: encoded tones as streams and players
// rendered into buffers.

#include "support/TestSupport.h"

#include <ox/audio/AudioStream.h>
#include <ox/audio/Decoders.h>
#include <ox/audio/TQ7SamplePlayer.h>

#include <memory>
#include <string>
#include <vector>

namespace oxtest {

/// The decoder each format calls for.
inline std::shared_ptr<ox::audio::IDecoder>
decoderFor(AudioFormat format, const std::shared_ptr<ox::stream::IStream>& s, float gain = 1.0f) {
    if (format == AudioFormat::OggVorbis) {
        return ox::audio::OggVorbisDecoder::make(s, gain);
    }
    if (format == AudioFormat::Flac16 || format == AudioFormat::Flac24) {
        return ox::audio::FlacDecoder::make(s, gain);
    }
    return ox::audio::WavDecoder::make(s, gain, false);
}

inline std::shared_ptr<ox::audio::AudioStream> audioStreamOf(AudioFormat format, const Tone& tone,
                                                             float gain = 1.0f) {
    return std::make_shared<ox::audio::AudioStream>(
        decoderFor(format, memoryStream(encodeTone(format, tone)), gain), 0);
}

/// Half the sign changes per second on the first channel.
inline double measuredFrequency(const std::vector<float>& samples, int channels, int rate) {
    int crossings = 0;
    const size_t frames = samples.size() / size_t(channels);
    for (size_t f = 1; f < frames; ++f) {
        crossings +=
            (samples[(f - 1) * size_t(channels)] < 0) != (samples[f * size_t(channels)] < 0);
    }
    return crossings / 2.0 / (double(frames) / rate);
}

/// One render() of `frames` frames into a buffer first filled with garbage.
inline std::vector<float> play(ox::audio::TQ7SamplePlayer& player, int64_t frames, int channels,
                               int64_t* sounding = nullptr) {
    std::vector<float> out(size_t(frames * channels), 99.0f);
    const int64_t got = player.render(out.data(), frames, channels);
    if (sounding) {
        *sounding = got;
    }
    return out;
}

} // namespace oxtest
