#include "catalogue/SoundFontImpl.h"

#include <ox/audio/Decoders.h>
#include <ox/utils/filesystem.h>

namespace ox::soundfont {

std::shared_ptr<ox::audio::IDecoder>
SoundFont::makeDecoder(const std::shared_ptr<ox::stream::IStream>& stream) const {
    const std::string& name = stream->name();
    const std::string extension = ox::utils::filesystem::extension(name);

    float gain = m_impl->gain;
    if (const Wav* wav = m_impl->layer.findWav(ox::utils::filesystem::filename(name))) {
        gain *= wav->gain;
    }

    // Case-sensitive on purpose: anything that is not exactly "ogg" or "wav" is FLAC.
    if (extension == "ogg") {
        return ox::audio::OggVorbisDecoder::make(stream, gain);
    }
    if (extension == "wav") {
        return ox::audio::WavDecoder::make(stream, gain, false);
    }
    return ox::audio::FlacDecoder::make(stream, gain);
}

} // namespace ox::soundfont
