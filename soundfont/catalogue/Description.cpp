#include "catalogue/Description.h"

#include <ox/utils/split.h>

#include <array>
#include <cstdlib>
#include <math.h>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

namespace ox::soundfont::description {

namespace {

using Attribute = rapidxml::xml_attribute<char>;

std::string text(const Attribute& attribute) {
    return std::string(attribute.value(), attribute.value_size());
}

// Attribute values are zero-terminated in place by the parser, so the C
// conversions see exactly the value: numeric prefix or 0.
float decimal(const Attribute& attribute) {
    return static_cast<float>(std::atof(attribute.value()));
}

int8_t smallInteger(const Attribute& attribute) {
    return static_cast<int8_t>(std::atoi(attribute.value()));
}

int wholeNumber(const std::string& part) {
    // The messages are part of the interface: hosts show them for a broken bank.
    try {
        return std::stoi(part, nullptr, 10);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("invalid stoi argument");
    } catch (const std::out_of_range&) {
        throw std::out_of_range("stoi argument out of range");
    }
}

void applyTuning(SoundFont::Impl& bank, const Attribute& attribute) {
    const std::vector<std::string> parts = ox::utils::split(text(attribute), ' ');
    // A single number is no tuning (an open string list has at least two).
    if (parts.size() < 2)
        return;
    bank.tuning.resize(parts.size());
    for (size_t i = 0; i < parts.size(); ++i)
        bank.tuning[i] = wholeNumber(parts[i]);
}

using RootHandler = void (*)(SoundFont::Impl&, const Attribute&);

const std::unordered_map<std::string_view, RootHandler>& rootHandlers() {
    static const std::unordered_map<std::string_view, RootHandler> handlers{
        {"id", [](SoundFont::Impl& b, const Attribute& a) { b.id = text(a); }},
        {"type", [](SoundFont::Impl& b, const Attribute& a) { b.type = text(a); }},
        {"name", [](SoundFont::Impl& b, const Attribute& a) { b.name = text(a); }},
        {"description", [](SoundFont::Impl& b, const Attribute& a) { b.description = text(a); }},
        {"velocity", [](SoundFont::Impl& b, const Attribute& a) { b.velocity.store(decimal(a)); }},
        {"tuning", applyTuning},
    };
    return handlers;
}

// Samples that some shipped banks describe but must not play.
bool isExcluded(const std::string& bankId, const Sample& sample) {
    static const std::array<std::pair<std::string_view, std::string_view>, 4> excluded{{
        {"Hillside-Piano", "HillsideGrand9-Key-Sus-none-07-none-081-none.ogg"},
        {"Ballade-Nylons", "BallNyl-Fng-Sus-Thumb-01-6E40-040-none-none.ogg"},
        {"Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-BR-none.ogg"},
        {"Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-NK-none.ogg"},
    }};
    for (const auto& [id, file] : excluded) {
        if (bankId != id)
            continue;
        for (const Wav& wav : sample.wavs)
            if (wav.file == file)
                return true;
    }
    return false;
}

Wav readWav(const Element& element, const std::string& bankId) {
    Wav wav;
    if (const Attribute* a = element.first_attribute("file"))
        wav.file = text(*a);
    if (const Attribute* a = element.first_attribute("peak"))
        wav.peak = decimal(*a);
    if (const Attribute* a = element.first_attribute("pickup"))
        wav.pickup = text(*a);
    if (const Attribute* a = element.first_attribute("repitch"))
        wav.repitch = decimal(*a);
    // Banks marked with a trailing "+" were recorded with the opposite sign.
    if (!bankId.empty() && bankId.back() == '+')
        wav.repitch = static_cast<float>(wav.repitch * -1.0);
    if (const Attribute* a = element.first_attribute("velocity"))
        wav.velocity = std::atoi(a->value());
    if (const Attribute* a = element.first_attribute("ratio"))
        wav.ratio = decimal(*a);
    if (const Attribute* a = element.first_attribute("gain"))
        wav.gain = powf(10.0f, decimal(*a) / 20.0f);
    return wav;
}

Sample readSample(const Element& element, const std::string& bankId) {
    Sample sample;
    if (const Attribute* a = element.first_attribute("midi"))
        sample.midi = smallInteger(*a);
    if (const Attribute* a = element.first_attribute("dynamic"))
        sample.dynamic = text(*a);
    if (const Attribute* a = element.first_attribute("option"))
        sample.option = text(*a);
    if (const Attribute* a = element.first_attribute("string"))
        sample.string = smallInteger(*a);
    for (const Element* wave = element.first_node("Wave"); wave; wave = wave->next_sibling("Wave"))
        sample.wavs.push_back(readWav(*wave, bankId));
    return sample;
}

std::vector<Sample> readSamples(const Element& element, const std::string& bankId) {
    std::vector<Sample> samples;
    for (const Element* child = element.first_node("Sample"); child;
         child = child->next_sibling("Sample")) {
        Sample sample = readSample(*child, bankId);
        if (!isExcluded(bankId, sample))
            samples.push_back(std::move(sample));
    }
    return samples;
}

} // namespace

void applyRootAttributes(SoundFont::Impl& bank, const Element& root) {
    const auto& handlers = rootHandlers();
    for (const Attribute* a = root.first_attribute(); a; a = a->next_attribute()) {
        const auto handler = handlers.find(std::string_view(a->name(), a->name_size()));
        if (handler != handlers.end())
            handler->second(bank, *a);
    }
}

Layer readLayer(const Element& element, const std::string& bankId) {
    Layer layer;
    if (const Attribute* a = element.first_attribute("class"))
        layer.className = text(*a);
    for (const Element* node = element.first_node("Node"); node; node = node->next_sibling("Node"))
        layer.layers.push_back(readLayer(*node, bankId));
    // Only the last "Samples" element counts.
    const Element* last = nullptr;
    for (const Element* samples = element.first_node("Samples"); samples;
         samples = samples->next_sibling("Samples"))
        last = samples;
    if (last)
        layer.samples = readSamples(*last, bankId);
    return layer;
}

} // namespace ox::soundfont::description
