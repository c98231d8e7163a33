#pragma once

// Hydrogen drum kits: drumkit.xml and the samples beside it.

#include "Plan.h"

#include <string>
#include <utility>
#include <vector>

namespace ox::import {

/// General MIDI drum notes for a kit's pieces: each name that says what the
/// piece is gets its note (kick 36, snare 38, closed hi-hat 42, ...), the
/// others 36 plus their position, every note used once.
std::vector<int> drumNotes(const std::vector<std::string>& names);

/// The plan of the kit whose drumkit.xml is at `path`: one piece per
/// instrument, each layer a velocity range. Throws ImportError for XML that
/// does not parse and for missing or unreadable samples.
BankPlan planHydrogenKit(const std::string& path);

} // namespace ox::import
