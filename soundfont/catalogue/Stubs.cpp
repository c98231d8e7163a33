// Temporary placeholder so the skeleton links; replaced by the real catalogue.
#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>
#include <soundfont/SampleTree.h>
#include "catalogue/SoundFontImpl.h"
#include <rapidxml/rapidxml.hpp>
namespace ox::soundfont {
const Wav* Layer::findWav(const std::string&) const { return nullptr; }
SoundFont::SoundFont() : d(new Impl(this)) {}
SoundFont::~SoundFont() = default;
void SoundFont::initialize() {}
const std::string& SoundFont::id() const { return d->id; }
const std::string& SoundFont::name() const { return d->id; }
const std::string& SoundFont::type() const { return d->id; }
const std::string& SoundFont::description() const { return d->id; }
const std::vector<int>& SoundFont::tuning() const { return d->tuning; }
float SoundFont::velocity() const { return 0; }
void SoundFont::setVelocity(float) {}
float SoundFont::gain() const { return 1; }
void SoundFont::setId(const std::string&) {}
void SoundFont::setName(const std::string&) {}
const Layer& SoundFont::layer() const { return d->layer; }
std::shared_ptr<ox::audio::IDecoder> SoundFont::makeDecoder(const std::shared_ptr<ox::stream::IStream>&) const { return {}; }
SoundFontV6::SoundFontV6(const std::string& path) : m_path(path) {}
SoundFontV6::~SoundFontV6() = default;
std::shared_ptr<ox::audio::AudioStream> SoundFontV6::audioStream(const std::string&) const { return {}; }
std::shared_ptr<ox::stream::IStream> SoundFontV6::sampleXML() const { return {}; }
std::shared_ptr<ox::stream::IStream> SoundFontV6::sample(const std::string&) const { return {}; }
struct SoundFontManager::Impl {};
SoundFontManager::SoundFontManager() : d(new Impl) {}
SoundFontManager::~SoundFontManager() = default;
std::shared_ptr<SoundFont> SoundFontManager::addDirectory(const std::string&) { return {}; }
std::shared_ptr<SoundFont> SoundFontManager::soundFont(const std::string&) const { return {}; }
std::shared_ptr<SoundFont> SoundFontManager::soundFontFromId(const std::string&) const { return {}; }
} // namespace ox::soundfont
