#include "Hydrogen.h"

#include "AudioFiles.h"
#include "Text.h"

#include <ox/import/Import.h>

#include <rapidxml/rapidxml.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using Node = rapidxml::xml_node<char>;

namespace ox::import {

namespace {

/// The General MIDI drum notes a piece of this name may take, best first.
std::vector<int> notesFor(std::string name) {
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? char(std::tolower(c)) : ' ';
    }
    name = " " + name + " ";
    const auto has = [&](const char* part) { return name.find(part) != std::string::npos; };
    const auto word = [&](const std::string& w) { return has((" " + w + " ").c_str()); };
    if (has("hat") || word("hh")) {
        if (has("open")) {
            return {46};
        }
        if (has("pedal") || has("foot")) {
            return {44};
        }
        return {42};
    }
    if (has("kick") || has("bass drum") || has("bassdrum") || word("bd")) {
        return {36, 35};
    }
    if (has("clap")) {
        return {39};
    }
    if (has("rim") || has("stick") || has("side")) {
        return {37};
    }
    if (has("snare") || word("sd")) {
        return {38, 40};
    }
    if (has("tom")) {
        if (has("floor")) {
            return {43, 41};
        }
        if (has(" hi") || word("1")) {
            return {50, 48};
        }
        if (has("mid") || word("2")) {
            return {47, 48};
        }
        if (has(" lo") || word("3")) {
            return {45, 43};
        }
        return {50, 48, 47, 45, 43, 41};
    }
    if (has("ride")) {
        return has("bell") ? std::vector<int>{53} : std::vector<int>{51, 59};
    }
    static const std::vector<std::pair<const char*, std::vector<int>>> others = {
        {"crash", {49, 57}},   {"china", {52}},         {"splash", {55}},    {"cowbell", {56}},
        {"tamb", {54}},        {"conga", {63, 64, 62}}, {"bongo", {60, 61}}, {"timbal", {65, 66}},
        {"agogo", {67, 68}},   {"cabasa", {69}},        {"maraca", {70}},    {"shake", {70, 82}},
        {"whistle", {72, 71}}, {"guiro", {73, 74}},     {"clave", {75}},     {"block", {76, 77}},
        {"cuica", {78, 79}},   {"triangle", {81, 80}},  {"vibra", {58}},     {"cymbal", {49, 57}},
        {"bell", {53}},
    };
    for (const auto& [part, notes] : others) {
        if (has(part)) {
            return notes;
        }
    }
    return {};
}

std::string childText(const Node* node, const char* name) {
    const Node* child = node ? node->first_node(name) : nullptr;
    return child ? std::string(child->value(), child->value_size()) : std::string();
}

double childNumber(const Node* node, const char* name, double fallback) {
    const std::string text = childText(node, name);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() || !std::isfinite(value) ? fallback : value;
}

// Hydrogen plays its kits at the output's rate; its filter's coefficients are
// read against the rate most kits are made and played at.
constexpr double kKitRate = 44100.0;

/// The instrument's resonant filter as a low-pass of the voice: cutoff (Hz) and
/// resonance (dB); nothing when it is off or fully open.
///
/// Hydrogen's filter is a two-pole resonator whose "filterCutoff" c and
/// "filterResonance" r (0 to 1 each) are its coefficients: the band-pass
/// step b = r b + c (x - l), then l = l + c b (l the output), which gives
/// H(z) = c^2 / (1 - (1 + r - c^2) z^-1 + r z^-2), unity at DC. Our low-pass
/// takes the frequency of its poles and the height of its peak.
std::optional<std::pair<double, double>> kitLowPass(const Node* instrument) {
    if (childText(instrument, "filterActive") != "true") {
        return std::nullopt;
    }
    const double c = std::clamp(childNumber(instrument, "filterCutoff", 1), 0.0, 1.0);
    const double r = std::clamp(childNumber(instrument, "filterResonance", 0), 0.0, 0.999);
    if (c >= 1.0 && r <= 0.0) {
        return std::nullopt; // poles at 0: the input passes as it is
    }
    if (c <= 0.0) {
        return std::pair{5.0, 0.0}; // closed: the lowest cutoff the voice takes
    }
    // The poles' natural frequency, as the analogue pole s = rate ln z.
    const double a1 = 1.0 + r - c * c;
    const double discriminant = a1 * a1 - 4.0 * r;
    double omega = 0; // radians per sample
    if (discriminant < 0) {
        const double theta = std::acos(std::clamp(a1 / (2.0 * std::sqrt(r)), -1.0, 1.0));
        omega = std::hypot(0.5 * std::log(r), theta);
    } else {
        // Real poles: the geometric mean of the two, or the one pole a zero r leaves.
        const double z1 = (a1 + std::sqrt(discriminant)) / 2.0;
        const double z2 = (a1 - std::sqrt(discriminant)) / 2.0;
        omega =
            z2 > 1e-12 ? std::sqrt(std::log(z1) * std::log(z2)) : -std::log(std::max(z1, 1e-12));
    }
    const double hz = std::min(omega * kKitRate / (2.0 * std::numbers::pi), 0.499 * kKitRate);
    // The peak: the response's largest value over the band, against DC.
    double peak = 1.0;
    for (int i = 1; i <= 4096; ++i) {
        const double w = std::numbers::pi * i / 4096.0;
        const std::complex<double> z1 = std::polar(1.0, -w);
        peak = std::max(peak, c * c / std::abs(1.0 - a1 * z1 + r * z1 * z1));
    }
    return std::pair{hz, 20.0 * std::log10(peak)};
}

/// What the bank cannot hold of an instrument's own settings.
void dropSettings(const Node* instrument, BankPlan& plan) {
    if (childNumber(instrument, "randomPitchFactor", 0) > 0) {
        plan.drop("random pitch");
    }
    if (childNumber(instrument, "Attack", 0) != 0 || childNumber(instrument, "Decay", 0) != 0 ||
        childNumber(instrument, "Sustain", 1) != 1 ||
        childNumber(instrument, "Release", 1000) != 1000) {
        plan.drop("envelope (Attack, Decay, Sustain, Release)");
    }
}

/// The instrument's pan, -1 to 1: newer kits give it as "pan", older ones as
/// the two sides' gains, 0 to 1 each; 0 when it is centred or absent.
double panOf(const Node* instrument) {
    if (!childText(instrument, "pan").empty()) {
        return std::clamp(childNumber(instrument, "pan", 0), -1.0, 1.0);
    }
    return std::clamp(childNumber(instrument, "pan_R", 1) - childNumber(instrument, "pan_L", 1),
                      -1.0, 1.0);
}

} // namespace

std::vector<int> drumNotes(const std::vector<std::string>& names) {
    std::vector<int> notes(names.size(), -1);
    std::set<int> used;
    for (size_t i = 0; i < names.size(); ++i) {
        for (const int note : notesFor(names[i])) {
            if (used.insert(note).second) {
                notes[i] = note;
                break;
            }
        }
    }
    // The rest go where Hydrogen maps MIDI input: 36 plus the position, or the
    // next note still free.
    for (size_t i = 0; i < names.size(); ++i) {
        if (notes[i] >= 0) {
            continue;
        }
        for (int step = 0; step < 128 && notes[i] < 0; ++step) {
            const int note = int((36 + i + size_t(step)) % 128);
            if (used.insert(note).second) {
                notes[i] = note;
            }
        }
    }
    return notes;
}

BankPlan planHydrogenKit(const std::string& path) {
    std::string text = readText(path);
    rapidxml::xml_document<char> document;
    try {
        document.parse<0>(text.data());
    } catch (const rapidxml::parse_error& e) {
        const size_t at = size_t(e.where<char>() - text.data());
        const auto line =
            1 + std::count(text.begin(), text.begin() + std::min(at, text.size()), '\n');
        throw ImportError(path, std::string("not well-formed XML (") + e.what() + " at line " +
                                    std::to_string(line) + ")");
    }
    const Node* root = document.first_node("drumkit_info");
    if (!root) {
        throw ImportError(path, "not a Hydrogen drum kit (no drumkit_info element)");
    }
    const fs::path dir = fs::path(path).parent_path();

    BankPlan plan;
    plan.name = childText(root, "name");
    if (plan.name.empty()) {
        plan.name = fs::absolute(dir).filename().string();
    }
    plan.unpitched = true;
    plan.zoneWord = "layer";

    std::vector<const Node*> instruments;
    std::vector<std::string> names;
    if (const Node* list = root->first_node("instrumentList")) {
        for (const Node* i = list->first_node("instrument"); i; i = i->next_sibling("instrument")) {
            instruments.push_back(i);
            names.push_back(childText(i, "name"));
        }
    }
    const std::vector<int> notes = drumNotes(names);
    std::string unreadable; ///< the first sample file that could not be read

    for (size_t i = 0; i < instruments.size(); ++i) {
        const Node* instrument = instruments[i];
        const std::string where = "instrument \"" + names[i] + "\"";
        // Layers sit in the first component (newer kits) or in the instrument.
        const Node* holder = instrument;
        if (const Node* component = instrument->first_node("instrumentComponent")) {
            holder = component;
            for (const Node* extra = component->next_sibling("instrumentComponent"); extra;
                 extra = extra->next_sibling("instrumentComponent")) {
                plan.drop("further microphone components");
            }
        }
        struct Layer {
            std::string file;
            double min = 0, max = 1, gain = 1, pitch = 0;
        };
        std::vector<Layer> layers;
        for (const Node* l = holder->first_node("layer"); l; l = l->next_sibling("layer")) {
            layers.push_back({childText(l, "filename"), childNumber(l, "min", 0),
                              childNumber(l, "max", 1), childNumber(l, "gain", 1),
                              childNumber(l, "pitch", 0)});
        }
        if (layers.empty() && !childText(instrument, "filename").empty()) {
            layers.push_back({childText(instrument, "filename")});
        }
        if (layers.empty()) {
            continue;
        }
        if (notes[i] < 0) {
            plan.warnings.push_back(where + ": no MIDI note left for it; skipped");
            continue;
        }
        dropSettings(instrument, plan);
        const double level = childNumber(instrument, "volume", 1) *
                             childNumber(instrument, "gain", 1) *
                             (holder == instrument ? 1.0 : childNumber(holder, "gain", 1));
        const double pitchOffset = childNumber(instrument, "pitchOffset", 0);
        const auto filter = kitLowPass(instrument); // the instrument's, for all its layers
        bool played = false;
        for (const Layer& layer : layers) {
            // Hydrogen plays a layer when min <= velocity / 127 <= max.
            Zone zone;
            zone.keyLo = zone.keyHi = zone.root = notes[i];
            zone.velLo = std::max(1, int(std::ceil(layer.min * 127 - 1e-9)));
            zone.velHi = std::min(127, int(std::floor(layer.max * 127 + 1e-9)));
            if (zone.velLo > zone.velHi) {
                plan.warnings.push_back(where + ": a layer no MIDI velocity reaches; skipped");
                continue;
            }
            const fs::path file = dir / layer.file;
            try {
                probeSoundFile(file.string());
            } catch (const ImportError& e) {
                // Kits often name a sample they do not ship; the rest still plays.
                plan.warnings.push_back(where + ": " + e.what() + "; layer skipped");
                if (unreadable.empty()) {
                    unreadable = where + ": " + e.what();
                }
                continue;
            }
            zone.cents = 100 * (layer.pitch + pitchOffset);
            zone.keyTrack = 0;
            const double gain = level * layer.gain;
            zone.gainDb = gain > 1e-5 ? 20 * std::log10(gain) : -100;
            if (const double pan = panOf(instrument); std::abs(pan) > 1e-6) {
                zone.voice.emplace_back("pan", pan);
            }
            if (filter) {
                zone.voice.emplace_back("cutoff", filter->first);
                if (filter->second > 0.01) {
                    zone.voice.emplace_back("resonance", filter->second);
                }
            }
            // Mute groups count from 0, choke groups from 1.
            zone.chokeGroup = std::max(0, int(childNumber(instrument, "muteGroup", -1)) + 1);
            zone.audio = plan.addAudio(fileSource(file.string(), 0, INT64_MAX, -1, -1));
            plan.zones.push_back(zone);
            played = true;
        }
        if (played) {
            plan.pieces.emplace_back(notes[i], names[i]);
        } else {
            plan.warnings.push_back(where + ": no layer left; instrument skipped");
        }
    }
    if (plan.zones.empty() && !unreadable.empty()) {
        throw ImportError(path, "no instrument left to import (" + unreadable + ")");
    }
    std::sort(plan.pieces.begin(), plan.pieces.end());
    return plan;
}

} // namespace ox::import
