#pragma once

// Shared wording of samples and coordinates for the text and JSON outputs.

#include "Vocabulary.h"

#include <nlohmann/json.hpp>

#include <string>

namespace ox::soundfont {
class SampleCoordinate;
struct SampleTreeNodeSample;
} // namespace ox::soundfont

namespace oxsf {

/// "midi 52 (E3)  string 6  fret 12  dynamic MP  option 0"
std::string coordinateText(const ox::soundfont::SampleCoordinate& coordinate);
/// "a.flac" or "bridge: a.flac, neck: b.flac"
std::string filesText(const ox::soundfont::SampleTreeNodeSample& sample);
/// What a sample's players do beyond its coordinate and files: "velocities
/// 1-40, choke group 3, pan -0.50, low-pass 1200 Hz +6.0 dB, ..."; empty when nothing.
std::string voiceText(const ox::soundfont::SampleTreeNodeSample& sample);
/// The file a player of this sample plays: the one of the first pickup.
std::string firstFile(const ox::soundfont::SampleTreeNodeSample& sample);

nlohmann::json coordinateJson(Kind kind, const ox::soundfont::SampleCoordinate& coordinate);
nlohmann::json sampleJson(Kind kind, const ox::soundfont::SampleTreeNodeSample& sample);

} // namespace oxsf
