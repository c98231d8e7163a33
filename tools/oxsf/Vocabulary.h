#pragma once

// Words for the numbers the library stores: attack, technique and variation of
// both vocabularies, the dynamics scale and note names.

#include <soundfont/Soundworld.h>

#include <optional>
#include <string>
#include <vector>

namespace ox::soundfont {
class SampleTree;
class SampleCoordinate;
} // namespace ox::soundfont

namespace oxsf {

enum class Kind { Pitched, Unpitched };

/// Which vocabulary a bank's tree uses.
Kind treeKind(const ox::soundfont::SampleTree& tree);
const char* kindName(Kind kind);

/// Tree levels below the root: 1 attack, 2 technique, 3 variation.
enum Level { AttackLevel = 1, TechniqueLevel = 2, VariationLevel = 3 };

/// The words of one level, in value order (word i has the value i).
ox::soundfont::SoundworldWords levelWords(Kind kind, int level);
/// The word for `value` at `level`; "-" for -1 and "#<n>" for values outside the vocabulary.
std::string levelWord(Kind kind, int level, int value);
/// The value the library gives `word` at `level` (-1 when unknown).
int levelValue(Kind kind, int level, const std::string& word);
/// "pick/sustain/down"; levels holding -1 are left out.
std::string articulationName(Kind kind, int attack, int technique, int variation);
std::string articulationName(Kind kind, const ox::soundfont::SampleCoordinate& coordinate);

/// The name of a dynamic value on the library's scale, or its number when outside it.
std::string dynamicName(int value);
/// A dynamic given as a name of the scale (any case) or as its number 0 to 16.
std::optional<int> parseDynamic(const std::string& text);

/// A MIDI note given as a number (0 to 127) or a name like C4, F#3 or Bb2 (C4 is 60).
std::optional<int> parsePitch(const std::string& text);
/// "C4", "F#3".
std::string pitchName(int midi);

} // namespace oxsf
