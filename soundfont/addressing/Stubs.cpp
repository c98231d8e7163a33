// Temporary placeholder so the skeleton links; replaced by the real addressing code.
#include <soundfont/NoteOption.h>
#include <soundfont/SampleCoordinate.h>
#include <soundfont/Soundworld.h>
namespace ox::soundfont {
Soundworld::Type Soundworld::typeFromString(const std::string&) { return Unknown; }
PitchedSoundworld::Attack PitchedSoundworld::attackFromString(const std::string&) { return UnknownAttack; }
PitchedSoundworld::Technique PitchedSoundworld::techniqueFromString(const std::string&) { return UnknownTechnique; }
PitchedSoundworld::Variation PitchedSoundworld::variationFromString(const std::string&) { return UnknownVariation; }
UnpitchedSoundworld::Attack UnpitchedSoundworld::attackFromString(const std::string&) { return UnknownAttack; }
UnpitchedSoundworld::Technique UnpitchedSoundworld::techniqueFromString(const std::string&) { return UnknownTechnique; }
UnpitchedSoundworld::Variation UnpitchedSoundworld::variationFromString(const std::string&) { return UnknownVariation; }
int NoteOption::stringToInt(const std::string&) { return 0; }
SampleCoordinate::SCDefinition SampleCoordinate::_SCDefinitions[5];
SampleCoordinate::SampleCoordinate() {}
SampleCoordinate::SampleCoordinate(const SampleCoordinate&) = default;
SampleCoordinate& SampleCoordinate::operator=(const SampleCoordinate&) = default;
SampleCoordinate::~SampleCoordinate() = default;
void SampleCoordinate::initialize(int, int, int) {}
void SampleCoordinate::setPickup(const std::string&) {}
void SampleCoordinate::setCorrection(ox::audio::SoundCorrection::Type, float) {}
bool SampleCoordinate::tryGetCorrection(ox::audio::SoundCorrection::Type, float&) const { return false; }
float SampleCoordinate::distance(const SampleCoordinate&) const { return 0; }
unsigned int SampleCoordinate::uniqueId() const { return 0; }
bool SampleCoordinate::operator==(const SampleCoordinate&) const { return false; }
bool SampleCoordinate::operator<(const SampleCoordinate&) const { return false; }
const SampleCoordinate::FunctionFactory& SampleCoordinate::getAmplitude(unsigned int c) { return _SCDefinitions[c].amplitude; }
const SampleCoordinate::FunctionFactory& SampleCoordinate::getPitch(unsigned int c) { return _SCDefinitions[c].pitch; }
unsigned int SampleCoordinate::initSCDefinitions() { return 5; }
} // namespace ox::soundfont
