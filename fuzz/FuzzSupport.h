#pragma once

// Shared pieces of the fuzz targets: a bank served from memory, and the
// library's documented exceptions, which are expected outcomes, not findings.

#include <soundfont/SoundFont.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace oxfuzz {

class MemoryBank : public ox::soundfont::SoundFont {
public:
    MemoryBank(const uint8_t* data, size_t size);
    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override;
    std::shared_ptr<ox::stream::IStream> sampleXML() const override;
    std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const override;

private:
    std::string m_xml;
};

/// Runs `step`, swallowing the parser's error and the tuning conversion errors.
/// Returns false when one of them was raised.
bool expectingDocumentedErrors(const std::function<void()>& step);

/// Plays `stream` to its end (bounded) through a player.
void playThrough(const std::shared_ptr<ox::audio::AudioStream>& stream);

/// A private scratch folder for targets that need real files.
const std::string& scratchDir();

} // namespace oxfuzz
