#include "Vocabulary.h"

#include <soundfont/SampleCoordinate.h>
#include <soundfont/SampleTree.h>
#include <soundfont/Soundworld.h>

#include <cctype>
#include <charconv>

namespace oxsf {

using namespace ox::soundfont;

Kind treeKind(const SampleTree& tree) {
    return tree.name() == "unpitched" ? Kind::Unpitched : Kind::Pitched;
}

const char* kindName(Kind kind) {
    return kind == Kind::Unpitched ? "unpitched" : "pitched";
}

SoundworldWords levelWords(Kind kind, int level) {
    const bool unpitched = kind == Kind::Unpitched;
    switch (level) {
    case AttackLevel:
        return unpitched ? UnpitchedSoundworld::attackWords() : PitchedSoundworld::attackWords();
    case TechniqueLevel:
        return unpitched ? UnpitchedSoundworld::techniqueWords()
                         : PitchedSoundworld::techniqueWords();
    case VariationLevel:
        return unpitched ? UnpitchedSoundworld::variationWords()
                         : PitchedSoundworld::variationWords();
    }
    return {};
}

std::string levelWord(Kind kind, int level, int value) {
    if (value == -1) {
        return "-";
    }
    const SoundworldWords words = levelWords(kind, level);
    if (value >= 0 && static_cast<size_t>(value) < words.size()) {
        return words[static_cast<size_t>(value)];
    }
    std::string unknown = "#";
    unknown += std::to_string(value);
    return unknown;
}

int levelValue(Kind kind, int level, const std::string& word) {
    if (kind == Kind::Unpitched) {
        switch (level) {
        case AttackLevel:
            return UnpitchedSoundworld::attackFromString(word);
        case TechniqueLevel:
            return UnpitchedSoundworld::techniqueFromString(word);
        case VariationLevel:
            return UnpitchedSoundworld::variationFromString(word);
        }
        return -1;
    }
    switch (level) {
    case AttackLevel:
        return PitchedSoundworld::attackFromString(word);
    case TechniqueLevel:
        return PitchedSoundworld::techniqueFromString(word);
    case VariationLevel:
        return PitchedSoundworld::variationFromString(word);
    }
    return -1;
}

std::string articulationName(Kind kind, int attack, int technique, int variation) {
    std::string name = levelWord(kind, AttackLevel, attack);
    if (technique != -1) {
        name += '/';
        name += levelWord(kind, TechniqueLevel, technique);
        if (variation != -1) {
            name += '/';
            name += levelWord(kind, VariationLevel, variation);
        }
    }
    return name;
}

std::string articulationName(Kind kind, const SampleCoordinate& coordinate) {
    return articulationName(kind, coordinate.attack(), coordinate.technique(),
                            coordinate.variation());
}

std::string dynamicName(int value) {
    const char* name = ox::soundfont::dynamicName(value);
    return name ? name : std::to_string(value);
}

namespace {

std::optional<int> parseInt(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<int> parseDynamic(const std::string& text) {
    if (auto number = parseInt(text)) {
        if (*number >= 0 && *number < kDynamicCount) {
            return number;
        }
        return std::nullopt;
    }
    std::string upper;
    for (char c : text) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (int value = 0; value < kDynamicCount; ++value) {
        if (upper == ox::soundfont::dynamicName(value)) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<int> parsePitch(const std::string& text) {
    if (auto number = parseInt(text)) {
        if (*number >= 0 && *number <= 127) {
            return number;
        }
        return std::nullopt;
    }
    if (text.size() < 2) {
        return std::nullopt;
    }
    static const int steps[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G') {
        return std::nullopt;
    }
    int semitone = steps[letter - 'A'];
    size_t pos = 1;
    while (pos < text.size() && (text[pos] == '#' || text[pos] == 'b')) {
        semitone += text[pos] == '#' ? 1 : -1;
        ++pos;
    }
    auto octave = parseInt(text.substr(pos));
    if (!octave) {
        return std::nullopt;
    }
    const int midi = (*octave + 1) * 12 + semitone;
    if (midi < 0 || midi > 127) {
        return std::nullopt;
    }
    return midi;
}

std::string pitchName(int midi) {
    static const char* names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};
    if (midi < 0) {
        return std::to_string(midi);
    }
    return std::string(names[midi % 12]) + std::to_string(midi / 12 - 1);
}

} // namespace oxsf
