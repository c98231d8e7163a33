#include "support/TestSupport.h"

#include <ox/stream/MemoryStream.h>

#include <write/LoopWriter.h>

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace oxtest {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    m_path =
        fs::temp_directory_path() / ("oxsf-test-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(counter++) + "-" + std::to_string(random()));
    fs::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::string TempDir::file(const std::string& relative) const {
    return (m_path / relative).string();
}

void writeFile(const std::string& path, const std::string& bytes) {
    fs::path p(path);
    if (p.has_parent_path()) {
        fs::create_directories(p.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::shared_ptr<ox::stream::IStream> memoryStream(const std::string& bytes,
                                                  const std::string& name) {
    return std::make_shared<ox::stream::MemoryStream>(std::vector<char>(bytes.begin(), bytes.end()),
                                                      name);
}

std::string readRest(const std::shared_ptr<ox::stream::IStream>& stream) {
    if (!stream) {
        return "<none>";
    }
    const auto bytes = stream->readAll();
    return std::string(bytes.begin(), bytes.end());
}

namespace {

void putOutline(std::ostream& out, const ox::soundfont::Layer& layer) {
    auto text = [](const std::string& value) { return value.empty() ? "-" : value; };
    out << layer.className << '(';
    for (size_t i = 0; i < layer.samples.size(); ++i) {
        const auto& sample = layer.samples[i];
        out << (i ? " " : "") << int(sample.midi);
        if (sample.string != -1) {
            out << '/' << int(sample.string);
        }
        for (const std::string* part : {&sample.dynamic, &sample.option}) {
            if (!part->empty()) {
                out << ':' << *part;
            }
        }
        for (size_t w = 0; w < sample.wavs.size(); ++w) {
            const auto& wav = sample.wavs[w];
            out << (w ? ", " : "[") << text(wav.file) << '{' << wav.repitch << ' ' << wav.peak
                << ' ' << wav.velocity << ' ' << text(wav.pickup) << ' ' << wav.ratio << ' '
                << wav.gain << '}' << (w + 1 == sample.wavs.size() ? "]" : "");
        }
    }
    for (size_t i = 0; i < layer.layers.size(); ++i) {
        out << (i ? " " : layer.samples.empty() ? "| " : " | ");
        putOutline(out, layer.layers[i]);
    }
    out << ')';
}

} // namespace

std::string outline(const ox::soundfont::Layer& layer) {
    std::ostringstream out;
    putOutline(out, layer);
    return out.str();
}

std::vector<float> toneSamples(const Tone& tone) {
    std::vector<float> samples(static_cast<size_t>(tone.frames * tone.channels));
    for (int64_t f = 0; f < tone.frames; ++f) {
        for (int c = 0; c < tone.channels; ++c) {
            samples[static_cast<size_t>(f * tone.channels + c)] =
                static_cast<float>(tone.amplitude * std::sin(2.0 * M_PI * tone.frequency * (c + 1) *
                                                             double(f) / tone.sampleRate));
        }
    }
    return samples;
}

namespace {

int sndfileFormat(AudioFormat format) {
    switch (format) {
    case AudioFormat::Wav16:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case AudioFormat::Wav24:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    case AudioFormat::WavFloat:
        return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    case AudioFormat::Flac16:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case AudioFormat::Flac24:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    case AudioFormat::OggVorbis:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case AudioFormat::Aiff16:
        return SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    }
    return 0;
}

bool isWav(AudioFormat format) {
    return format == AudioFormat::Wav16 || format == AudioFormat::Wav24 ||
           format == AudioFormat::WavFloat;
}

} // namespace

bool writeTone(const std::string& path, AudioFormat format, const Tone& tone) {
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent);
    }
    SF_INFO info{};
    info.samplerate = tone.sampleRate;
    info.channels = tone.channels;
    info.format = sndfileFormat(format);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        return false;
    }
    if (tone.loopStart >= 0 && tone.loopEnd > tone.loopStart) {
        oxsf::write::writeLoop(file, isWav(format), tone.loopStart, tone.loopEnd);
    }
    if (format == AudioFormat::OggVorbis) {
        double quality = 0.9;
        sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof(quality));
    }
    const std::vector<float> samples = toneSamples(tone);
    const sf_count_t written = sf_writef_float(file, samples.data(), tone.frames);
    sf_close(file);
    return written == tone.frames;
}

std::string encodeTone(AudioFormat format, const Tone& tone) {
    TempDir dir;
    const std::string path = dir.file("tone.bin");
    if (!writeTone(path, format, tone)) {
        throw std::runtime_error("cannot encode tone");
    }
    return readFile(path);
}

float SoundFile::peak() const {
    float peak = 0.0f;
    for (float s : samples) {
        peak = std::max(peak, std::fabs(s));
    }
    return peak;
}

SoundFile readSound(const std::string& path) {
    SoundFile sound;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        return sound;
    }
    sound.samples.resize(size_t(info.frames * info.channels));
    sound.frames = sf_readf_float(file, sound.samples.data(), info.frames);
    sound.samples.resize(size_t(sound.frames * info.channels));
    sf_close(file);
    sound.format = info.format;
    sound.channels = info.channels;
    sound.sampleRate = info.samplerate;
    return sound;
}

std::vector<float> referenceFrames(const std::string& bytes) {
    TempDir dir;
    writeFile(dir.file("reference.bin"), bytes);
    return readSound(dir.file("reference.bin")).samples;
}

MemoryBank::MemoryBank(std::string xml, bool hasXml) : m_xml(std::move(xml)), m_hasXml(hasXml) {}

void MemoryBank::addSample(const std::string& name, std::string bytes) {
    m_samples.emplace_back(name, std::move(bytes));
}

std::shared_ptr<ox::stream::IStream> MemoryBank::sampleXML() const {
    if (!m_hasXml) {
        return {};
    }
    return memoryStream(m_xml, "memory/Samples.xml");
}

std::shared_ptr<ox::stream::IStream> MemoryBank::sample(const std::string& name) const {
    for (const auto& [sampleName, bytes] : m_samples) {
        if (sampleName == name) {
            return memoryStream(bytes, "memory/Samples/" + name);
        }
    }
    return {};
}

std::shared_ptr<ox::audio::AudioStream> MemoryBank::audioStream(const std::string& name) const {
    auto stream = sample(name);
    if (!stream) {
        return {};
    }
    return std::make_shared<ox::audio::AudioStream>(makeDecoder(stream), 0);
}

std::string writeSineBank(const std::string& path, const std::string& name, bool kit,
                          const std::vector<std::pair<int, double>>& notes,
                          const std::string& waveAttributes) {
    std::string samples;
    for (const auto& [midi, frequency] : notes) {
        const std::string file = name + std::to_string(midi) + ".wav";
        samples += "<Sample midi=\"" + std::to_string(midi) + "\" dynamic=\"F\"><Wave file=\"" +
                   file + "\"" + waveAttributes + "/></Sample>";
        if (!writeTone(path + "/Samples/" + file, AudioFormat::Wav16,
                       Tone{.frames = 44100,
                            .frequency = frequency,
                            .loopStart = kit ? -1 : 4200,
                            .loopEnd = kit ? -1 : 42000})) {
            throw std::runtime_error("cannot write " + path + "/Samples/" + file);
        }
    }
    const std::string nodes = kit ? "<Node class=\"stick\"><Node class=\"hit\"><Node class=\"hit\">"
                                  : "<Node class=\"pick\"><Node class=\"sustain\"><Node "
                                    "class=\"down\">";
    writeFile(path + "/Samples.xml", "<Bank id=\"" + name + "\" type=\"" +
                                         (kit ? "drum" : "guitar") + "\"><SamplesTree>" + nodes +
                                         "<Samples>" + samples +
                                         "</Samples></Node></Node></Node></SamplesTree></Bank>");
    return path;
}

} // namespace oxtest
