#pragma once

// SFZ instruments: a small parser of our own for the opcodes that place and
// loop samples, and the plan of the bank they make.

#include "Plan.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ox::import {

/// One <region> with every opcode it inherits from <control>, <global>,
/// <master> and <group>, the region's own last.
struct SfzRegion {
    std::map<std::string, std::string> opcodes;
    int line = 0; ///< where the region starts (1-based, in its own file)
};

struct SfzDocument {
    std::vector<SfzRegion> regions;
    std::map<std::string, int> ignored; ///< headers, directives and text not understood -> count
};

/// Returns the text of an #include'd file (named as written), or nothing when missing.
using SfzInclude = std::function<std::optional<std::string>(const std::string&)>;

/// Parses SFZ text: comments, #define and #include, headers and their
/// inheritance, opcodes whose values may hold blanks (sample paths).
SfzDocument parseSfz(std::string_view text, const SfzInclude& include);

/// A key number from an opcode value: a number or a note name ("c4" is 60,
/// "f#3", "eb5"); empty when it is neither.
std::optional<int> sfzKey(const std::string& value);

/// The plan of the .sfz file at `path`: one zone per region, its samples
/// checked to exist. `drums` files every key as a piece of its own. Throws
/// ImportError for an unreadable file or a missing or unreadable sample.
BankPlan planSfz(const std::string& path, bool drums);

} // namespace ox::import
