// Bytes as an archive file: open it as a bank, read its description and every
// entry through sample() and audioStream().
#include "FuzzSupport.h"

#include <ox/stream/FileStream.h>

#include <cstdio>
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = oxfuzz::scratchDir() + "/input.tq7bank";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ox::soundfont::SoundFontV7 bank(path);
    if (!oxfuzz::expectingDocumentedErrors([&] { bank.initialize(); })) {
        return 0;
    }
    // Every name the index could hold is reached through the description's
    // waves; also try a few names directly.
    for (const char* name : {"Samples.xml", "a.wav", "a.flac", "a.ogg", ""}) {
        if (auto stream = bank.sample(name)) {
            char buffer[256];
            while (stream->read(buffer, sizeof buffer) > 0) {
            }
        }
        if (auto audio = bank.audioStream(name)) {
            oxfuzz::playThrough(audio);
        }
    }
    std::vector<const ox::soundfont::Layer*> pending = {&bank.layer()};
    int visited = 0;
    while (!pending.empty() && visited++ < 64) {
        const auto* layer = pending.back();
        pending.pop_back();
        for (const auto& sample : layer->samples) {
            for (const auto& wav : sample.wavs) {
                if (auto audio = bank.audioStream(wav.file)) {
                    oxfuzz::playThrough(audio);
                }
            }
        }
        for (const auto& child : layer->layers) {
            pending.push_back(&child);
        }
    }
    return 0;
}
