#pragma once

// Helpers shared by the test binaries: temporary folders, files, synthesized
// audio (through libsndfile), and a bank served from memory.

#include <soundfont/SoundFont.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace oxtest {

/// A fresh folder under the system's temporary directory, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    /// path() / relative, as a string.
    std::string file(const std::string& relative) const;

private:
    std::filesystem::path m_path;
};

/// Writes `bytes` to `path`, creating parent folders.
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
/// `bytes` as an in-memory stream called `name`.
std::shared_ptr<ox::stream::IStream> memoryStream(const std::string& bytes,
                                                  const std::string& name = "memory");
/// Every byte left in `stream` from its cursor on, or "<none>" for a null stream.
std::string readRest(const std::shared_ptr<ox::stream::IStream>& stream);

/// A one-line outline of a parsed description, to compare whole trees at once:
/// layer "class(samples | sub-layers)", sample "midi[/string][:dynamic][:option][waves]",
/// wave "file{repitch peak velocity pickup ratio gain}" ("-" for empty text).
std::string outline(const ox::soundfont::Layer& layer);

enum class AudioFormat { Wav16, Wav24, WavFloat, Flac16, Flac24, OggVorbis, Aiff16 };

struct Tone {
    int channels = 1;
    int sampleRate = 44100;
    int64_t frames = 441;
    double frequency = 441.0; ///< channel c plays frequency * (c + 1)
    double amplitude = 0.5;
    int64_t loopStart =
        -1; ///< with loopEnd: a loop region (WAV "smpl" or LOOPSTART/LOOPLENGTH tags)
    int64_t loopEnd = -1;
};

/// The interleaved samples of `tone` as written (before quantisation).
std::vector<float> toneSamples(const Tone& tone);
/// Writes `tone` to `path` in `format` through libsndfile; returns false on failure.
bool writeTone(const std::string& path, AudioFormat format, const Tone& tone);

/// A directory bank at `path` of one sine a second long at 44.1 kHz per note,
/// `notes` mapping MIDI notes to frequencies with whole periods in the loop:
/// pitched banks (type "guitar") loop, kits (type "drum") do not. File names
/// carry `name`, since the audio cache knows files by name alone; each Wave
/// takes `waveAttributes` (" ampRelease=\"0.05\"", say) too. Returns `path`.
std::string writeSineBank(const std::string& path, const std::string& name, bool kit,
                          const std::vector<std::pair<int, double>>& notes,
                          const std::string& waveAttributes = "");
/// The encoded bytes of `tone` in `format` (written to a temporary file and read back).
std::string encodeTone(AudioFormat format, const Tone& tone);

/// A sound file as libsndfile reads it; `frames` is 0 when it cannot be read.
struct SoundFile {
    int format = 0;
    int channels = 0;
    int sampleRate = 0;
    int64_t frames = 0;
    std::vector<float> samples; ///< interleaved
    float peak() const;
};
SoundFile readSound(const std::string& path);
/// All samples of encoded sound file bytes as libsndfile reads them.
std::vector<float> referenceFrames(const std::string& bytes);

/// A bank whose description is the given text and whose samples are the given
/// named byte strings, all served from memory.
class MemoryBank : public ox::soundfont::SoundFont {
public:
    explicit MemoryBank(std::string xml = {}, bool hasXml = true);

    void addSample(const std::string& name, std::string bytes);
    void setXml(std::string xml) {
        m_xml = std::move(xml);
        m_hasXml = true;
    }

    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override;
    std::shared_ptr<ox::stream::IStream> sampleXML() const override;
    std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const override;

    using SoundFont::makeDecoder;

private:
    std::string m_xml;
    bool m_hasXml;
    std::vector<std::pair<std::string, std::string>> m_samples;
};

} // namespace oxtest
