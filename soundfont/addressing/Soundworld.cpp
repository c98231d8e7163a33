#include <soundfont/Soundworld.h>

#include <array>
#include <map>

namespace ox::soundfont {

namespace {

// Word i of each list has the value i; the conversions are built from these lists.
constexpr std::array<const char*, 9> kPitchedAttacks{"pick", "finger", "harmonic", "pop",   "slap",
                                                     "key",  "blow",   "bow",      "mallet"};
constexpr std::array<const char*, 4> kPitchedTechniques{"sustain", "pizzicato", "natural", "hit"};
constexpr std::array<const char*, 14> kPitchedVariations{
    "down", "up",   "index", "thumb",      "middle",     "5th",       "7th",
    "9th",  "12th", "4:5",   "variationa", "variationb", "novibrato", "hit"};
constexpr std::array<const char*, 9> kUnpitchedAttacks{
    "stick", "brush", "rod", "pedal", "mallet", "hand", "thumb", "finger4", "blow"};
constexpr std::array<const char*, 2> kUnpitchedTechniques{"hit", "scrape"};
constexpr std::array<const char*, 19> kUnpitchedVariations{
    "hit",  "pedal",  "return", "handhit", "roll", "choke",   "edge",      "mid",  "bell", "open",
    "half", "closed", "slap",   "mute",    "tip",  "rimshot", "sidestick", "body", "none"};

// An ordered map from each word to its value, built once on first use
// (function-local statics make that thread-safe); unknown words give -1.
template <typename Value, const auto& Words> Value lookUp(const std::string& text) {
    static const std::map<std::string, Value> table = [] {
        std::map<std::string, Value> built;
        for (size_t i = 0; i < Words.size(); ++i) {
            built.emplace(Words[i], static_cast<Value>(i));
        }
        return built;
    }();
    const auto found = table.find(text);
    return found == table.end() ? static_cast<Value>(-1) : found->second;
}

} // namespace

Soundworld::Type Soundworld::typeFromString(const std::string& text) {
    if (text == "pitched") {
        return Pitched;
    }
    if (text == "unpitched") {
        return Unpitched;
    }
    return Unknown;
}

PitchedSoundworld::Attack PitchedSoundworld::attackFromString(const std::string& text) {
    return lookUp<Attack, kPitchedAttacks>(text);
}
PitchedSoundworld::Technique PitchedSoundworld::techniqueFromString(const std::string& text) {
    return lookUp<Technique, kPitchedTechniques>(text);
}
PitchedSoundworld::Variation PitchedSoundworld::variationFromString(const std::string& text) {
    return lookUp<Variation, kPitchedVariations>(text);
}
SoundworldWords PitchedSoundworld::attackWords() {
    return kPitchedAttacks;
}
SoundworldWords PitchedSoundworld::techniqueWords() {
    return kPitchedTechniques;
}
SoundworldWords PitchedSoundworld::variationWords() {
    return kPitchedVariations;
}

UnpitchedSoundworld::Attack UnpitchedSoundworld::attackFromString(const std::string& text) {
    return lookUp<Attack, kUnpitchedAttacks>(text);
}
UnpitchedSoundworld::Technique UnpitchedSoundworld::techniqueFromString(const std::string& text) {
    return lookUp<Technique, kUnpitchedTechniques>(text);
}
UnpitchedSoundworld::Variation UnpitchedSoundworld::variationFromString(const std::string& text) {
    return lookUp<Variation, kUnpitchedVariations>(text);
}
SoundworldWords UnpitchedSoundworld::attackWords() {
    return kUnpitchedAttacks;
}
SoundworldWords UnpitchedSoundworld::techniqueWords() {
    return kUnpitchedTechniques;
}
SoundworldWords UnpitchedSoundworld::variationWords() {
    return kUnpitchedVariations;
}

} // namespace ox::soundfont
