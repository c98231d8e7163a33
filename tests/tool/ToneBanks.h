#pragma once

// Banks of sine tones written here, for the tests that render or play through them.

#include "support/TestSupport.h"

#include <string>
#include <utility>
#include <vector>

namespace oxtest {

/// A bank of one sine a second long at 44.1 kHz per note, `notes` mapping MIDI
/// notes to frequencies with whole periods in the loop: pitched banks loop, kits
/// do not. Written to dir/banks/<name>; file names carry the bank's name, since
/// the audio cache knows files by name alone.
std::string writeBank(const TempDir& dir, const std::string& name, bool kit,
                      const std::vector<std::pair<int, double>>& notes);

} // namespace oxtest
