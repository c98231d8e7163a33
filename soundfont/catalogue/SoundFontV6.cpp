#include <soundfont/SoundFont.h>

#include <ox/stream/FileStream.h>

namespace ox::soundfont {

// Paths are joined as given: the host passes the bank folder and the file
// names of the description unchanged.

SoundFontV6::SoundFontV6(const std::string& path) : m_path(path) {}

SoundFontV6::~SoundFontV6() = default;

std::shared_ptr<ox::stream::IStream> SoundFontV6::sampleXML() const {
    return ox::stream::FileStream::open(m_path + "/Samples.xml", "r");
}

std::shared_ptr<ox::stream::IStream> SoundFontV6::sample(const std::string& name) const {
    return ox::stream::FileStream::open(m_path + "/Samples/" + name, "rb");
}

std::shared_ptr<ox::audio::AudioStream> SoundFontV6::audioStream(const std::string& name) const {
    const auto stream = sample(name);
    if (!stream) {
        return {};
    }
    return std::make_shared<ox::audio::AudioStream>(makeDecoder(stream), 0);
}

} // namespace ox::soundfont
