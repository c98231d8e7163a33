#include "Report.h"

#include <soundfont/SampleTree.h>

#include <fmt/format.h>

namespace oxsf {

using namespace ox::soundfont;

namespace {

std::string stringText(int zeroBased) {
    return zeroBased < 0 ? std::string("-") : std::to_string(zeroBased + 1);
}

} // namespace

std::string coordinateText(const SampleCoordinate& c) {
    // Unpitched instruments have neither string nor fret; leave them out there.
    const std::string place =
        c[SampleCoordinate::String] < 0 && c[SampleCoordinate::Fret] < 0
            ? std::string()
            : fmt::format(
                  "  string {}  fret {}", stringText(c[SampleCoordinate::String]),
                  c[SampleCoordinate::Fret] < 0 ? "-" : std::to_string(c[SampleCoordinate::Fret]));
    return fmt::format("midi {} ({}){}  dynamic {}  option {}", c[SampleCoordinate::Midi],
                       pitchName(c[SampleCoordinate::Midi]), place,
                       dynamicName(c[SampleCoordinate::Dynamic]), c[SampleCoordinate::Option]);
}

std::string filesText(const SampleTreeNodeSample& sample) {
    if (sample.files.empty()) {
        return "(no file)";
    }
    std::string text;
    for (const auto& [pickup, file] : sample.files) {
        if (!text.empty()) {
            text += ", ";
        }
        text += pickup.empty() ? file : pickup + ": " + file;
    }
    return text;
}

std::string firstFile(const SampleTreeNodeSample& sample) {
    return sample.files.empty() ? std::string() : sample.files.begin()->second;
}

nlohmann::json coordinateJson(Kind kind, const SampleCoordinate& c) {
    nlohmann::json j;
    j["attack"] = levelWord(kind, AttackLevel, c.attack());
    j["technique"] = levelWord(kind, TechniqueLevel, c.technique());
    j["variation"] = levelWord(kind, VariationLevel, c.variation());
    j["articulation"] = {c.attack(), c.technique(), c.variation()};
    j["midi"] = c[SampleCoordinate::Midi];
    j["note"] = pitchName(c[SampleCoordinate::Midi]);
    j["string"] = c[SampleCoordinate::String] < 0 ? nlohmann::json(nullptr)
                                                  : nlohmann::json(c[SampleCoordinate::String] + 1);
    j["fret"] = c[SampleCoordinate::Fret] < 0 ? nlohmann::json(nullptr)
                                              : nlohmann::json(c[SampleCoordinate::Fret]);
    j["dynamic"] = c[SampleCoordinate::Dynamic];
    j["dynamicName"] = dynamicName(c[SampleCoordinate::Dynamic]);
    j["option"] = c[SampleCoordinate::Option];
    return j;
}

nlohmann::json sampleJson(Kind kind, const SampleTreeNodeSample& sample) {
    nlohmann::json j = coordinateJson(kind, sample);
    j["files"] = nlohmann::json::object();
    for (const auto& [pickup, file] : sample.files) {
        j["files"][pickup] = file;
    }
    return j;
}

} // namespace oxsf
