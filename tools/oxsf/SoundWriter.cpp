#include "SoundWriter.h"

#include "Errors.h"

#include <fmt/format.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <unistd.h>

namespace fs = std::filesystem;

namespace oxsf {

OutputFormat outputFormat(const std::string& path, int bits, bool floatSamples) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const int pcm = bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16;
    const std::string depth = fmt::format("{}-bit", bits);
    if (extension == ".wav") {
        return floatSamples ? OutputFormat{SF_FORMAT_WAV | SF_FORMAT_FLOAT, false, "float WAV"}
                            : OutputFormat{SF_FORMAT_WAV | pcm, true, depth + " WAV"};
    }
    if (floatSamples) {
        throw UsageError(fmt::format("{}: --float writes WAV files only (name it .wav)", path));
    }
    if (extension == ".flac") {
        return {SF_FORMAT_FLAC | pcm, true, depth + " FLAC"};
    }
    if (extension == ".ogg") {
        if (bits != 16) {
            throw UsageError(fmt::format("{}: --bits is for WAV and FLAC files", path));
        }
        return {SF_FORMAT_OGG | SF_FORMAT_VORBIS, true, "Ogg Vorbis"};
    }
    throw UsageError(
        fmt::format("{}: unknown output format '{}' (write .wav, .flac or .ogg)", path, extension));
}

OutputFormat scratchFormat() {
    return {SF_FORMAT_W64 | SF_FORMAT_FLOAT, false, "float W64"};
}

SoundWriter::SoundWriter(const std::string& path, const OutputFormat& format, int sampleRate)
    : m_path(path), m_format(format) {
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        throw ToolError(path, "cannot write: there is no folder " + folder.string());
    }
    // The sound goes to a file beside the target and takes its name only once
    // complete, so a full disk or a crash never leaves a cut-off song under the
    // name asked for. Devices and pipes (/dev/stdout) are written in place.
    if (!fs::exists(path, ec) || fs::is_regular_file(path, ec)) {
        static int counter = 0;
        m_partial = fmt::format("{}.partial-{}-{}", path, ::getpid(), ++counter);
    }
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = sampleRate;
    info.format = format.format;
    m_file = sf_open(m_partial.empty() ? path.c_str() : m_partial.c_str(), SFM_WRITE, &info);
    if (!m_file) {
        const std::string reason = sf_strerror(nullptr);
        discard();
        throw ToolError(path, "cannot write: " + reason);
    }
    if ((format.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
        const int sampleBytes = (format.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16   ? 2
                                : (format.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 3
                                                                                          : 4;
        m_limit = (int64_t{0xFFFFFFFF} - 1024) / (2 * sampleBytes);
    }
}

SoundWriter::~SoundWriter() {
    if (m_file) {
        sf_close(m_file);
    }
    discard();
}

void SoundWriter::discard() {
    if (!m_partial.empty()) {
        std::error_code ignored;
        fs::remove(m_partial, ignored);
        m_partial.clear();
    }
}

void SoundWriter::fail(const std::string& what) {
    if (m_file) {
        sf_close(m_file);
        m_file = nullptr;
    }
    const bool removed = !m_partial.empty();
    discard();
    throw ToolError(m_path, what + (removed ? "; the unfinished file was removed"
                                            : "; what was written so far stays there"));
}

void SoundWriter::write(float* samples, int64_t frames) {
    for (int64_t i = 0; i < frames * 2; ++i) {
        const float magnitude = std::fabs(samples[i]);
        m_peak = std::max(m_peak, magnitude);
        if (m_format.integer && magnitude > 1.0f) {
            samples[i] = std::clamp(samples[i], -1.0f, 1.0f);
            ++m_clipped;
        }
    }
    if (m_limit > 0 && m_frames + frames > m_limit) {
        fail("cannot write: a WAV file holds at most 4 GB (write .flac, or lower --rate)");
    }
    if (sf_writef_float(m_file, samples, frames) != frames) {
        fail(std::string("cannot write: ") + sf_strerror(m_file) + " (the disk may be full)");
    }
    m_frames += frames;
}

void SoundWriter::close() {
    const int result = sf_close(m_file);
    m_file = nullptr;
    if (result != 0) {
        fail("cannot write: the disk may be full");
    }
    if (!m_partial.empty()) {
        std::error_code error;
        fs::rename(m_partial, m_path, error);
        if (error) {
            fail("cannot put the file in place: " + error.message());
        }
        m_partial.clear();
    }
}

std::string dbfs(float peak) {
    return peak > 0.0f ? fmt::format("{:.1f} dBFS", 20.0 * std::log10(peak)) : "-inf dBFS";
}

} // namespace oxsf
