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
    const std::string place = c[0] < 0 && c[4] < 0
                                  ? std::string()
                                  : fmt::format("  string {}  fret {}", stringText(c[0]),
                                                c[4] < 0 ? "-" : std::to_string(c[4]));
    return fmt::format("midi {} ({}){}  dynamic {}  option {}", c[1], pitchName(c[1]), place,
                       dynamicName(c[2]), c[3]);
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
    j["midi"] = c[1];
    j["note"] = pitchName(c[1]);
    j["string"] = c[0] < 0 ? nlohmann::json(nullptr) : nlohmann::json(c[0] + 1);
    j["fret"] = c[4] < 0 ? nlohmann::json(nullptr) : nlohmann::json(c[4]);
    j["dynamic"] = c[2];
    j["dynamicName"] = dynamicName(c[2]);
    j["option"] = c[3];
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
