#include <soundfont/Soundworld.h>

#include <map>

namespace ox::soundfont {

namespace {

// Words not in a vocabulary map to that vocabulary's unknown value (-1).
template <typename Value>
Value lookUp(const std::map<std::string, Value>& table, const std::string& text, Value unknown) {
    const auto found = table.find(text);
    return found == table.end() ? unknown : found->second;
}

} // namespace

Soundworld::Type Soundworld::typeFromString(const std::string& text) {
    if (text == "pitched")
        return Pitched;
    if (text == "unpitched")
        return Unpitched;
    return Unknown;
}

// Each table is built once, on first use; function-local statics make that thread-safe.

PitchedSoundworld::Attack PitchedSoundworld::attackFromString(const std::string& text) {
    static const std::map<std::string, Attack> table{
        {"pick", Pick}, {"finger", Finger}, {"harmonic", Harmonic},
        {"pop", Pop},   {"slap", Slap},     {"key", Key},
        {"blow", Blow}, {"bow", Bow},       {"mallet", Mallet},
    };
    return lookUp(table, text, UnknownAttack);
}

PitchedSoundworld::Technique PitchedSoundworld::techniqueFromString(const std::string& text) {
    static const std::map<std::string, Technique> table{
        {"sustain", Sustain},
        {"pizzicato", Pizzicato},
        {"natural", Natural},
        {"hit", HitTechnique},
    };
    return lookUp(table, text, UnknownTechnique);
}

PitchedSoundworld::Variation PitchedSoundworld::variationFromString(const std::string& text) {
    static const std::map<std::string, Variation> table{
        {"down", Down},
        {"up", Up},
        {"index", Index},
        {"thumb", Thumb},
        {"middle", Middle},
        {"5th", Fifth},
        {"7th", Seventh},
        {"9th", Ninth},
        {"12th", Twelfth},
        {"4:5", FourFive},
        {"variationa", VariationA},
        {"variationb", VariationB},
        {"novibrato", NoVibrato},
        {"hit", HitVariation},
    };
    return lookUp(table, text, UnknownVariation);
}

UnpitchedSoundworld::Attack UnpitchedSoundworld::attackFromString(const std::string& text) {
    static const std::map<std::string, Attack> table{
        {"stick", Stick}, {"brush", Brush},     {"rod", Rod},
        {"pedal", Pedal}, {"mallet", Mallet},   {"hand", Hand},
        {"thumb", Thumb}, {"finger4", Finger4}, {"blow", Blow},
    };
    return lookUp(table, text, UnknownAttack);
}

UnpitchedSoundworld::Technique UnpitchedSoundworld::techniqueFromString(const std::string& text) {
    static const std::map<std::string, Technique> table{
        {"hit", Hit},
        {"scrape", Scrape},
    };
    return lookUp(table, text, UnknownTechnique);
}

UnpitchedSoundworld::Variation UnpitchedSoundworld::variationFromString(const std::string& text) {
    static const std::map<std::string, Variation> table{
        {"hit", HitVariation},
        {"pedal", PedalVariation},
        {"return", Return},
        {"handhit", HandHit},
        {"roll", Roll},
        {"choke", Choke},
        {"edge", Edge},
        {"mid", Mid},
        {"bell", Bell},
        {"open", Open},
        {"half", Half},
        {"closed", Closed},
        {"slap", SlapVariation},
        {"mute", Mute},
        {"tip", Tip},
        {"rimshot", Rimshot},
        {"sidestick", Sidestick},
        {"body", Body},
        {"none", None},
    };
    return lookUp(table, text, UnknownVariation);
}

} // namespace ox::soundfont
