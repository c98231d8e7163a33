// Temporary placeholder so the skeleton links; replaced by the real archive bank.
#include <soundfont/SoundFont.h>
namespace ox::soundfont {
struct SoundFontV7::Impl {};
SoundFontV7::SoundFontV7(const std::string&) : d(new Impl) {}
SoundFontV7::~SoundFontV7() = default;
void SoundFontV7::initialize() { SoundFont::initialize(); }
std::shared_ptr<ox::audio::AudioStream> SoundFontV7::audioStream(const std::string&) const { return {}; }
std::shared_ptr<ox::stream::IStream> SoundFontV7::sampleXML() const { return {}; }
std::shared_ptr<ox::stream::IStream> SoundFontV7::sample(const std::string&) const { return {}; }
} // namespace ox::soundfont
