// Temporary placeholder so the skeleton links; replaced by the real bank parser.
#include <soundfont/SampleTree.h>
#include <soundfont/SoundBankParser.h>
#include <soundfont/SoundFont.h>
#include "catalogue/SoundFontImpl.h"
#include <rapidxml/rapidxml.hpp>
namespace ox::soundfont {
struct SoundBankParser::Impl {};
SoundBankParser::SoundBankParser() : d(new Impl) {}
SoundBankParser::~SoundBankParser() = default;
void SoundBankParser::parse(const SoundFont&) {}
SampleTree* SoundBankParser::takeSampleTree() { return nullptr; }
const SampleTreeBuilder* SoundBankParser::builder(const std::string&) const { return nullptr; }
SampleTree& SoundFont::sampleTree() const { return *d->tree; }
} // namespace ox::soundfont
