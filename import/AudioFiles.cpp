#include "AudioFiles.h"

#include <ox/import/Import.h>

#include <write/LoopWriter.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

namespace ox::import {

namespace {

struct FileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, FileCloser>;

SoundFile open(const std::string& path, SF_INFO& info) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        throw ImportError(path, "no such sample file");
    }
    SoundFile file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        throw ImportError(path, std::string("not a sound file libsndfile reads (") +
                                    sf_strerror(nullptr) + ")");
    }
    if (info.channels < 1 || info.samplerate < 1) {
        throw ImportError(path, "a sound file without channels or sample rate");
    }
    return file;
}

bool moreThan16Bits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32:
        return true;
    default:
        return false;
    }
}

constexpr sf_count_t kBlockFrames = 65536;

int32_t fullScale(double value) {
    return int32_t(std::clamp(std::round(value * 2147483648.0), -2147483648.0, 2147483647.0));
}

} // namespace

SoundFileInfo probeSoundFile(const std::string& path) {
    SF_INFO info{};
    SoundFile file = open(path, info);
    SoundFileInfo result;
    result.frames = info.frames;
    // libsndfile reports the loop end one past the last frame, whatever the chunk stores.
    SF_INSTRUMENT instrument{};
    if (sf_command(file.get(), SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE) {
        result.rootKey = instrument.basenote;
        if (instrument.loop_count > 0 && instrument.loops[0].mode != SF_LOOP_NONE &&
            instrument.loops[0].end > instrument.loops[0].start) {
            result.loopStart = instrument.loops[0].start;
            result.loopEnd = instrument.loops[0].end;
        }
    }
    return result;
}

Audio readSoundFile(const std::string& path) {
    SF_INFO info{};
    SoundFile file = open(path, info);
    Audio audio;
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.bits = moreThan16Bits(info.format) ? 24 : 16;
    // Read as normalised doubles, which hold every integer format exactly and
    // scale float sources the same way.
    if (info.frames > 0 && info.frames < kBlockFrames * 1024) {
        audio.samples.reserve(size_t(info.frames) * size_t(info.channels));
    }
    std::vector<double> block(size_t(kBlockFrames) * size_t(info.channels));
    for (;;) {
        const sf_count_t read = sf_readf_double(file.get(), block.data(), kBlockFrames);
        if (read <= 0) {
            break;
        }
        for (size_t i = 0; i < size_t(read) * size_t(info.channels); ++i) {
            audio.samples.push_back(fullScale(block[i]));
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        throw ImportError(path, std::string("cannot decode: ") + sf_strerror(file.get()));
    }
    return audio;
}

AudioSource fileSource(const std::string& path, int64_t start, int64_t end, int64_t loopStart,
                       int64_t loopEnd) {
    AudioSource source;
    source.key = path + "|" + std::to_string(start) + "-" + std::to_string(end) + "|" +
                 std::to_string(loopStart) + "-" + std::to_string(loopEnd);
    source.name = std::filesystem::path(path).stem().string();
    source.read = [=] {
        Audio audio = readSoundFile(path);
        const int64_t last = std::min(end, audio.frames());
        const int64_t first = std::min(start, last);
        audio.samples.erase(audio.samples.begin() + last * audio.channels, audio.samples.end());
        audio.samples.erase(audio.samples.begin(), audio.samples.begin() + first * audio.channels);
        if (loopStart >= first && loopEnd > loopStart && loopEnd <= last) {
            audio.loopStart = loopStart - first;
            audio.loopEnd = loopEnd - first;
        }
        return audio;
    };
    return source;
}

void writeFlac(const std::string& path, const Audio& audio) {
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.sampleRate;
    info.format = SF_FORMAT_FLAC | (audio.bits > 16 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    SoundFile file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file) {
        throw ImportError(path, std::string("cannot write FLAC: ") + sf_strerror(nullptr));
    }
    // The lightest compression: imports stay fast and the files stay lossless.
    double level = 0.0;
    sf_command(file.get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    if (audio.loopStart >= 0 && audio.loopEnd > audio.loopStart) {
        oxsf::write::writeLoop(file.get(), false, audio.loopStart, audio.loopEnd);
    }
    const sf_count_t written = sf_writef_int(file.get(), audio.samples.data(), audio.frames());
    if (written != audio.frames()) {
        throw ImportError(path, std::string("cannot write FLAC: ") + sf_strerror(file.get()));
    }
    if (sf_close(file.release()) != 0) {
        throw ImportError(path, "cannot write FLAC");
    }
}

} // namespace ox::import
