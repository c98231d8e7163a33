#pragma once

// Stereo sound files written block by block through libsndfile, in the format
// the file's extension names.

#include <cstdint>
#include <string>

struct sf_private_tag;

namespace oxsf {

struct OutputFormat {
    int format = 0;      ///< libsndfile's container and encoding
    bool integer = true; ///< values beyond full scale are clipped
    std::string name;    ///< "16-bit WAV", "24-bit FLAC", "float WAV", "Ogg Vorbis"
};

/// The format `path`'s extension asks for: .wav (16- or 24-bit, or float),
/// .flac (16- or 24-bit) or .ogg (Vorbis). Throws UsageError for any other
/// extension, and for bits or float samples the format cannot hold.
OutputFormat outputFormat(const std::string& path, int bits, bool floatSamples);

/// A float stereo file for the tool's own use (normalizing reads it back).
OutputFormat scratchFormat();

class SoundWriter {
public:
    /// Opens `path` for writing. Until close() the sound goes to a file beside
    /// it, which is removed when writing fails or the writer is destroyed
    /// unclosed: `path` is either complete or as it was. Throws ToolError when
    /// it cannot be written.
    SoundWriter(const std::string& path, const OutputFormat& format, int sampleRate);
    ~SoundWriter();
    SoundWriter(const SoundWriter&) = delete;
    SoundWriter& operator=(const SoundWriter&) = delete;

    /// Appends `frames` interleaved stereo frames. An integer format's values
    /// beyond full scale are clipped in `samples` and counted. Throws ToolError
    /// when the file cannot take them.
    void write(float* samples, int64_t frames);
    /// Finishes the file. Throws ToolError when that fails.
    void close();

    const std::string& path() const { return m_path; }
    const OutputFormat& format() const { return m_format; }
    int64_t frames() const { return m_frames; }
    /// The largest magnitude given, before any clipping.
    float peak() const { return m_peak; }
    /// Samples clipped at full scale.
    int64_t clipped() const { return m_clipped; }

private:
    std::string m_path;
    std::string m_partial; ///< the unfinished file beside `m_path`, until renamed; empty
                           ///< when `m_path` (a device or pipe) is written in place
    OutputFormat m_format;
    sf_private_tag* m_file = nullptr;
    int64_t m_frames = 0;
    int64_t m_limit = 0; ///< frames a WAV file can hold (its sizes are 32-bit)
    float m_peak = 0.0f;
    int64_t m_clipped = 0;

    /// Closes and removes the unfinished file, then throws ToolError saying so.
    [[noreturn]] void fail(const std::string& what);
    void discard();
};

/// The decibels of a linear peak ("-inf" for silence), as "-3.1 dBFS".
std::string dbfs(float peak);

} // namespace oxsf
