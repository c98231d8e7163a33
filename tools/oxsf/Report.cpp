#include "Report.h"

#include <soundfont/SampleTree.h>

#include <fmt/format.h>

#include <cmath>
#include <string>
#include <vector>

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

std::string voiceText(const SampleTreeNodeSample& sample) {
    std::vector<std::string> parts;
    if (sample.trigger.ranged()) {
        parts.push_back(
            fmt::format("velocities {}-{}", sample.trigger.velLo, sample.trigger.velHi));
    }
    if (sample.trigger.chokeGroup > 0) {
        parts.push_back(fmt::format("choke group {}", sample.trigger.chokeGroup));
    }
    if (sample.trigger.seqLength > 1) {
        parts.push_back(fmt::format("strike {} of every {}", sample.trigger.seqPosition,
                                    sample.trigger.seqLength));
    }
    if (sample.trigger.randLo > 0.0f || sample.trigger.randHi < 1.0f) {
        parts.push_back(fmt::format("random draws {:.2f}-{:.2f}", sample.trigger.randLo,
                                    sample.trigger.randHi));
    }
    if (sample.gain != 1.0f) {
        parts.push_back(fmt::format("gain {:+.1f} dB", 20.0 * std::log10(double(sample.gain))));
    }
    if (const ox::audio::VoiceShape* s = sample.shape.get()) {
        if (s->pan) {
            parts.push_back(fmt::format("pan {:+.2f}", *s->pan));
        }
        if (s->filtered()) {
            parts.push_back(fmt::format("low-pass {:.0f} Hz {:+.1f} dB", s->cutoff, s->resonance));
        }
        if (s->velocityToCutoff != 0.0f) {
            parts.push_back(fmt::format("velocity to cutoff {:+.0f} cents", s->velocityToCutoff));
        }
        if (s->modEnvelopeToPitch != 0.0f || s->modEnvelopeToCutoff != 0.0f) {
            parts.push_back(
                fmt::format("modulation envelope{} to pitch {:+.0f}, cutoff {:+.0f} cents",
                            s->modAttackConvex ? " (convex attack)" : "", s->modEnvelopeToPitch,
                            s->modEnvelopeToCutoff));
        }
        if (s->modLfo.frequency > 0.0f) {
            parts.push_back(fmt::format("modulation LFO {:.2f} Hz to pitch {:+.0f}, cutoff {:+.0f} "
                                        "cents, volume {:+.1f} dB",
                                        s->modLfo.frequency, s->modLfoToPitch, s->modLfoToCutoff,
                                        s->modLfoToVolume));
        }
        if (s->vibratoLfo.frequency > 0.0f) {
            parts.push_back(fmt::format("vibrato {:.2f} Hz {:+.0f} cents", s->vibratoLfo.frequency,
                                        s->vibratoToPitch));
        }
    }
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : ", ") + part;
    }
    return text;
}

nlohmann::json sampleJson(Kind kind, const SampleTreeNodeSample& sample) {
    nlohmann::json j = coordinateJson(kind, sample);
    j["files"] = nlohmann::json::object();
    for (const auto& [pickup, file] : sample.files) {
        j["files"][pickup] = file;
    }
    if (sample.trigger.ranged() || sample.trigger.chokeGroup > 0 || sample.trigger.alternates()) {
        j["trigger"] = {{"velLo", sample.trigger.velLo},
                        {"velHi", sample.trigger.velHi},
                        {"chokeGroup", sample.trigger.chokeGroup},
                        {"seqLength", sample.trigger.seqLength},
                        {"seqPosition", sample.trigger.seqPosition},
                        {"randLo", sample.trigger.randLo},
                        {"randHi", sample.trigger.randHi}};
    }
    if (const std::string voice = voiceText(sample); !voice.empty()) {
        j["voice"] = voice;
    }
    if (!sample.layers.empty()) {
        j["layers"] = nlohmann::json::array();
        for (const SampleTreeNodeSample& layer : sample.layers) {
            j["layers"].push_back(sampleJson(kind, layer));
        }
    }
    return j;
}

} // namespace oxsf
