#pragma once

// The coverage map: the keyboard against the dynamics, each cell showing the
// sample that a request by pitch alone plays there, coloured by how far the
// sample is transposed, so that a bank's author sees its gaps at a glance.

#include <string>

namespace ox::soundfont {
class SoundFont;
}

namespace oxsf {

struct Coverage;

/// The map of `bank` as a standalone SVG document. Cells transposed by more
/// than `maxTranspose` semitones stand out; notes the bank does not record
/// (outside its range, or no piece of a kit) are drawn faded.
std::string coverageMapSvg(const ox::soundfont::SoundFont& bank, const Coverage& coverage,
                           int maxTranspose);

} // namespace oxsf
