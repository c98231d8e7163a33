#include "archive/Archive.h"

#include <soundfont/SoundFont.h>

#include <ox/stream/FileStream.h>

#include <unordered_set>

namespace ox::soundfont {

namespace {

// Sample files that are played once even though their files carry a loop.
const std::unordered_set<std::string>& noLoopSamples() {
    static const std::unordered_set<std::string> names = [] {
        std::unordered_set<std::string> set;
        for (const char* ll : {"03", "04", "05", "07"}) {
            for (int pitch = 81; pitch <= 108; pitch += 3) {
                const std::string ppp = std::string(pitch < 100 ? "0" : "") + std::to_string(pitch);
                set.insert("HillsideGrand9-Key-Sus-none-" + std::string(ll) + "-none-" + ppp +
                           "-none.ogg");
            }
        }
        return set;
    }();
    return names;
}

} // namespace

struct SoundFontV7::Impl {
    ArchiveTable table;
    std::shared_ptr<ox::stream::IStream> archive;
};

SoundFontV7::SoundFontV7(const std::string& path) : m_impl(new Impl) {
    m_impl->archive = ox::stream::FileStream::open(path, "rb");
    if (m_impl->archive) {
        m_impl->table = loadArchiveIndex(*m_impl->archive);
    }
}

SoundFontV7::~SoundFontV7() = default;

void SoundFontV7::initialize() {
    SoundFont::initialize();
    if (m_impl->archive) {
        m_impl->archive->finishLoading();
    }
}

std::shared_ptr<ox::stream::IStream> SoundFontV7::sample(const std::string& name) const {
    return openArchiveEntry(m_impl->archive, m_impl->table, name);
}

std::shared_ptr<ox::stream::IStream> SoundFontV7::sampleXML() const {
    return sample("Samples.xml");
}

std::shared_ptr<ox::audio::AudioStream> SoundFontV7::audioStream(const std::string& name) const {
    auto stream = sample(name);
    if (!stream) {
        return {};
    }
    auto audio = std::make_shared<ox::audio::AudioStream>(makeDecoder(stream), 0);
    if (noLoopSamples().count(name)) {
        audio->disableLoop();
    }
    return audio;
}

} // namespace ox::soundfont
