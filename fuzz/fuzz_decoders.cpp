// Raw bytes through each decoder, then played through a stream and a player.
#include "FuzzSupport.h"

#include <ox/audio/Decoders.h>
#include <ox/stream/MemoryStream.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto stream = std::make_shared<ox::stream::MemoryStream>(
        std::vector<char>(reinterpret_cast<const char*>(data),
                          reinterpret_cast<const char*>(data) + size),
        "fuzz/input");
    std::shared_ptr<ox::audio::IDecoder> decoders[] = {
        ox::audio::FlacDecoder::make(stream, 0.8f),
        ox::audio::OggVorbisDecoder::make(stream, 0.8f),
        ox::audio::WavDecoder::make(stream, 0.8f, false),
    };
    for (const auto& decoder : decoders) {
        if (!decoder) {
            continue;
        }
        ox::audio::IDecoder::Loop loop;
        decoder->declaredLoop(loop);
        oxfuzz::playThrough(std::make_shared<ox::audio::AudioStream>(decoder, 0));
    }
    return 0;
}
