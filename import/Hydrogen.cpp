#include "Hydrogen.h"

#include "AudioFiles.h"
#include "Text.h"

#include <ox/import/Import.h>

#include <rapidxml/rapidxml.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

/// What the bank cannot hold of an instrument's own settings.
void dropSettings(const Node* instrument, BankPlan& plan) {
    if (childText(instrument, "filterActive") == "true") {
        plan.drop("filter");
    }
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
