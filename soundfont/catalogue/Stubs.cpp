// Temporary placeholder so the skeleton links; replaced by the real catalogue.
#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>
#include <soundfont/SampleTree.h>
namespace ox::soundfont {
const Wav* Layer::findWav(const std::string&) const { return nullptr; }
struct SoundFont::Impl { std::string s; std::vector<int> t; Layer l; };
SoundFont::SoundFont() : d(new Impl) {}
SoundFont::~SoundFont() = default;
void SoundFont::initialize() {}
const std::string& SoundFont::id() const { return d->s; }
const std::string& SoundFont::name() const { return d->s; }
const std::string& SoundFont::type() const { return d->s; }
const std::string& SoundFont::description() const { return d->s; }
const std::vector<int>& SoundFont::tuning() const { return d->t; }
float SoundFont::velocity() const { return 0; }
void SoundFont::setVelocity(float) {}
float SoundFont::gain() const { return 1; }
void SoundFont::setId(const std::string&) {}
void SoundFont::setName(const std::string&) {}
const Layer& SoundFont::layer() const { return d->l; }
SampleTree& SoundFont::sampleTree() const { return *static_cast<SampleTree*>(nullptr); }
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
