#include "FuzzSupport.h"

#pragma GCC visibility push(default)
#include <rapidxml/rapidxml.hpp>
#pragma GCC visibility pop

#include <ox/audio/TQ7SamplePlayer.h>
#include <ox/stream/MemoryStream.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace oxfuzz {

MemoryBank::MemoryBank(const uint8_t* data, size_t size)
    : m_xml(reinterpret_cast<const char*>(data), size) {}

std::shared_ptr<ox::stream::IStream> MemoryBank::sampleXML() const {
    return std::make_shared<ox::stream::MemoryStream>(std::vector<char>(m_xml.begin(), m_xml.end()),
                                                      "fuzz/Samples.xml");
}

std::shared_ptr<ox::stream::IStream> MemoryBank::sample(const std::string&) const {
    return {};
}

std::shared_ptr<ox::audio::AudioStream> MemoryBank::audioStream(const std::string&) const {
    return {};
}

bool expectingDocumentedErrors(const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const rapidxml::parse_error&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    return false;
}

void playThrough(const std::shared_ptr<ox::audio::AudioStream>& stream) {
    ox::audio::TQ7SamplePlayer player(stream);
    player.setOutputSampleRate(44100);
    player.setTransposition(7);
    std::vector<float> block(2 * 1024);
    // Looping streams never finish: a bounded number of blocks covers the loop.
    for (int i = 0; i < 64 && !player.finished(); ++i) {
        player.render(block.data(), 1024, 2);
    }
}

namespace {

std::string& scratchPath() {
    static std::string path;
    return path;
}

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchPath(), ignored);
}

} // namespace

const std::string& scratchDir() {
    static const bool created = [] {
        auto path =
            std::filesystem::temp_directory_path() / ("oxsf-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        scratchPath() = path.string();
        std::atexit(removeScratch);
        return true;
    }();
    (void)created;
    return scratchPath();
}

} // namespace oxfuzz
