#include "catalogue/Description.h"

#include <ox/utils/split.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <math.h>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

namespace ox::soundfont::description {

namespace {

using Attribute = rapidxml::xml_attribute<char>;

std::string text(const Attribute& attribute) {
    return std::string(attribute.value(), attribute.value_size());
}

bool named(const Element& element, std::string_view name) {
    return std::string_view(element.name(), element.name_size()) == name;
}

// Whether the C conversions of this thread's locale use '.' as the decimal
// point; only then may plainDecimal() stand in for atof.
bool dotIsDecimalPoint() {
    const char* radix = nl_langinfo(RADIXCHAR);
    return radix && radix[0] == '.' && radix[1] == '\0';
}

// What atof gives for a plain decimal ("0.72", "-12.5", "3"), computed
// without strtod's general machinery: with at most 15 digits the mantissa and
// the power of ten are exact doubles, and one IEEE division rounds the
// quotient correctly, as strtod rounds. Anything else (blanks, a sign other
// than '-', exponents, more digits, trailing text) returns false and is left
// to atof.
bool plainDecimal(const char* text, double& value) {
    static constexpr double powersOfTen[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = *text == '-';
    text += negative;
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction = -1; // digits after the point; -1 before it
    for (;; ++text) {
        const char c = *text;
        if (c >= '0' && c <= '9') {
            mantissa = mantissa * 10 + uint64_t(c - '0');
            ++digits;
            fraction += fraction >= 0;
        } else if (c == '.' && fraction < 0) {
            fraction = 0;
        } else {
            break;
        }
    }
    if (*text != '\0' || digits == 0 || digits > 15) {
        return false;
    }
    value = double(mantissa) / powersOfTen[fraction > 0 ? fraction : 0];
    if (negative) {
        value = -value;
    }
    return true;
}

// What atoi gives for up to nine digits with an optional '-', else atoi itself.
int integer(const char* text) {
    const char* c = text + (*text == '-');
    int value = 0;
    int digits = 0;
    // Nine digits always fit an int; a tenth is left for atoi (the check below).
    for (; *c >= '0' && *c <= '9' && digits < 9; ++c, ++digits) {
        value = value * 10 + (*c - '0');
    }
    if (*c != '\0' || digits == 0) {
        return std::atoi(text);
    }
    return *text == '-' ? -value : value;
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

// Attribute values are zero-terminated in place by the parser, so the C
// conversions see exactly the value: numeric prefix or 0.
float decimal(const Attribute& attribute, bool dotDecimals) {
    double value;
    if (!dotDecimals || !plainDecimal(attribute.value(), value)) {
        value = std::atof(attribute.value());
    }
    return static_cast<float>(value);
}

int8_t smallInteger(const Attribute& attribute) {
    return static_cast<int8_t>(integer(attribute.value()));
}

void applyTuning(SoundFont::Impl& bank, const Attribute& attribute) {
    const std::vector<std::string> parts = ox::utils::split(text(attribute), ' ');
    // A single number is no tuning (an open string list has at least two).
    if (parts.size() < 2) {
        return;
    }
    bank.tuning.resize(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        bank.tuning[i] = wholeNumber(parts[i]);
    }
}

using RootHandler = void (*)(SoundFont::Impl&, const Attribute&);

const std::unordered_map<std::string_view, RootHandler>& rootHandlers() {
    static const std::unordered_map<std::string_view, RootHandler> handlers{
        {"id", [](SoundFont::Impl& b, const Attribute& a) { b.id = text(a); }},
        {"type", [](SoundFont::Impl& b, const Attribute& a) { b.type = text(a); }},
        {"name", [](SoundFont::Impl& b, const Attribute& a) { b.name = text(a); }},
        {"description", [](SoundFont::Impl& b, const Attribute& a) { b.description = text(a); }},
        {"velocity", [](SoundFont::Impl& b,
                        const Attribute& a) { b.velocity.store(decimal(a, dotIsDecimalPoint())); }},
        {"tuning", applyTuning},
    };
    return handlers;
}

// Samples that some shipped banks describe but must not play.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kExcluded{{
    {"Hillside-Piano", "HillsideGrand9-Key-Sus-none-07-none-081-none.ogg"},
    {"Ballade-Nylons", "BallNyl-Fng-Sus-Thumb-01-6E40-040-none-none.ogg"},
    {"Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-BR-none.ogg"},
    {"Jang12-Guitar", "Jng12-Pck-Sus-Down-01-6E40-040-NK-none.ogg"},
}};

/// What reading one description needs to know of the bank, worked out once.
class Reader {
public:
    explicit Reader(const std::string& bankId)
        : m_flipRepitch(!bankId.empty() && bankId.back() == '+'),
          m_dotDecimals(dotIsDecimalPoint()) {
        for (const auto& [id, file] : kExcluded) {
            if (bankId == id) {
                m_excluded[m_excludedCount++] = file;
            }
        }
    }

    Layer readLayer(const Element& element) const {
        Layer layer;
        if (const Attribute* a = element.first_attribute("class")) {
            layer.className = text(*a);
        }
        // Only the last "Samples" element counts.
        const Element* samples = nullptr;
        for (const Element* child = element.first_node(); child; child = child->next_sibling()) {
            if (named(*child, "Node")) {
                layer.layers.push_back(readLayer(*child));
            } else if (named(*child, "Samples")) {
                samples = child;
            }
        }
        if (samples) {
            readSamples(*samples, layer.samples);
        }
        return layer;
    }

private:
    bool m_flipRepitch;
    bool m_dotDecimals;
    std::array<std::string_view, 2> m_excluded{};
    size_t m_excludedCount = 0;

    bool isExcluded(const Sample& sample) const {
        for (size_t i = 0; i < m_excludedCount; ++i) {
            for (const Wav& wav : sample.wavs) {
                if (wav.file == m_excluded[i]) {
                    return true;
                }
            }
        }
        return false;
    }

    float decimal(const Attribute& attribute) const {
        return description::decimal(attribute, m_dotDecimals);
    }

    // The optional envelope attributes of a "Wave", in the order of Envelope's fields.
    static constexpr std::array<std::string_view, 6> kEnvelopeAttributes{
        "ampDelay", "ampAttack", "ampHold", "ampDecay", "ampSustain", "ampRelease"};
    using EnvelopeAttributes = std::array<const Attribute*, kEnvelopeAttributes.size()>;

    // The slot of `name` among `names`; null when it is none of them.
    template <size_t N>
    static const Attribute** namedSlot(std::string_view name,
                                       const std::array<std::string_view, N>& names,
                                       std::array<const Attribute*, N>& slots) {
        for (size_t i = 0; i < N; ++i) {
            if (name == names[i]) {
                return &slots[i];
            }
        }
        return nullptr;
    }

    // Times in seconds, the sustain in decibels; absent parts are 0 s and 0 dB.
    ox::audio::Envelope readEnvelope(const EnvelopeAttributes& attributes) const {
        const auto value = [&](size_t i) { return attributes[i] ? decimal(*attributes[i]) : 0.0f; };
        ox::audio::Envelope envelope;
        envelope.delay = value(0);
        envelope.attack = value(1);
        envelope.hold = value(2);
        envelope.decay = value(3);
        envelope.sustain = powf(10.0f, value(4) / 20.0f);
        envelope.release = value(5);
        return envelope;
    }

    // The voice shape's attributes, in the order of readShape's values.
    static constexpr std::array<std::string_view, 20> kShapeAttributes{"pan",
                                                                       "cutoff",
                                                                       "resonance",
                                                                       "velToCutoff",
                                                                       "modDelay",
                                                                       "modAttack",
                                                                       "modHold",
                                                                       "modDecay",
                                                                       "modSustain",
                                                                       "modRelease",
                                                                       "modEnvToPitch",
                                                                       "modEnvToCutoff",
                                                                       "modLfoDelay",
                                                                       "modLfoFreq",
                                                                       "modLfoToPitch",
                                                                       "modLfoToCutoff",
                                                                       "modLfoToVolume",
                                                                       "vibLfoDelay",
                                                                       "vibLfoFreq",
                                                                       "vibLfoToPitch"};
    using ShapeAttributes = std::array<const Attribute*, kShapeAttributes.size()>;

    // Units as the player takes them: Hz, dB, seconds and cents; the
    // modulation envelope's sustain a level from 0 to 1. Absent parts are off.
    ox::audio::VoiceShape readShape(const ShapeAttributes& attributes) const {
        const auto value = [&](size_t i, float absent = 0.0f) {
            return attributes[i] ? decimal(*attributes[i]) : absent;
        };
        ox::audio::VoiceShape shape;
        if (attributes[0]) {
            shape.pan = value(0);
        }
        shape.cutoff = value(1);
        shape.resonance = value(2);
        shape.velocityToCutoff = value(3);
        shape.modEnvelope = {value(4), value(5), value(6), value(7), value(8, 1.0f), value(9)};
        shape.modEnvelopeToPitch = value(10);
        shape.modEnvelopeToCutoff = value(11);
        shape.modLfo = {value(12), value(13)};
        shape.modLfoToPitch = value(14);
        shape.modLfoToCutoff = value(15);
        shape.modLfoToVolume = value(16);
        shape.vibratoLfo = {value(17), value(18)};
        shape.vibratoToPitch = value(19);
        return shape;
    }

    // One pass over the attributes; the first of each name counts.
    void readWav(const Element& element, Wav& wav) const {
        const Attribute* file = nullptr;
        const Attribute* peak = nullptr;
        const Attribute* pickup = nullptr;
        const Attribute* repitch = nullptr;
        const Attribute* velocity = nullptr;
        const Attribute* ratio = nullptr;
        const Attribute* gain = nullptr;
        EnvelopeAttributes envelope{};
        ShapeAttributes shape{};
        for (const Attribute* a = element.first_attribute(); a; a = a->next_attribute()) {
            const std::string_view name(a->name(), a->name_size());
            const Attribute** slot = name == "file"       ? &file
                                     : name == "peak"     ? &peak
                                     : name == "pickup"   ? &pickup
                                     : name == "repitch"  ? &repitch
                                     : name == "velocity" ? &velocity
                                     : name == "ratio"    ? &ratio
                                     : name == "gain"
                                         ? &gain
                                         : namedSlot(name, kEnvelopeAttributes, envelope);
            if (!slot) {
                slot = namedSlot(name, kShapeAttributes, shape);
            }
            if (slot && !*slot) {
                *slot = a;
            }
        }
        if (file) {
            wav.file.assign(file->value(), file->value_size());
        }
        if (peak) {
            wav.peak = decimal(*peak);
        }
        if (pickup) {
            wav.pickup.assign(pickup->value(), pickup->value_size());
        }
        if (repitch) {
            wav.repitch = decimal(*repitch);
        }
        // Banks marked with a trailing "+" were recorded with the opposite sign.
        if (m_flipRepitch) {
            wav.repitch = static_cast<float>(wav.repitch * -1.0);
        }
        if (velocity) {
            wav.velocity = integer(velocity->value());
        }
        if (ratio) {
            wav.ratio = decimal(*ratio);
        }
        if (gain) {
            wav.gain = powf(10.0f, decimal(*gain) / 20.0f);
        }
        if (std::any_of(envelope.begin(), envelope.end(), [](const Attribute* a) { return a; })) {
            wav.envelope = readEnvelope(envelope);
        }
        if (std::any_of(shape.begin(), shape.end(), [](const Attribute* a) { return a; })) {
            wav.shape = std::make_shared<const ox::audio::VoiceShape>(readShape(shape));
        }
    }

    // The optional trigger attributes of a "Sample" or "Layer" element.
    struct TriggerAttributes {
        const Attribute* low = nullptr;
        const Attribute* high = nullptr;
        const Attribute* group = nullptr;
        const Attribute* loopRelease = nullptr;
        const Attribute* releaseFromFull = nullptr;
        const Attribute* seqLength = nullptr;
        const Attribute* seqPosition = nullptr;
        const Attribute* randLo = nullptr;
        const Attribute* randHi = nullptr;

        const Attribute** slot(std::string_view name) {
            return name == "velLo"             ? &low
                   : name == "velHi"           ? &high
                   : name == "chokeGroup"      ? &group
                   : name == "loopRelease"     ? &loopRelease
                   : name == "releaseFromFull" ? &releaseFromFull
                   : name == "seqLength"       ? &seqLength
                   : name == "seqPosition"     ? &seqPosition
                   : name == "randLo"          ? &randLo
                   : name == "randHi"          ? &randHi
                                               : nullptr;
        }
    };

    // The first of each name counts; a malformed number reads as "velocity"
    // does, a malformed decimal as "gain" does.
    void readTrigger(const TriggerAttributes& attributes, Trigger& trigger) const {
        const auto [low, high, group, loopRelease, releaseFromFull, seqLength, seqPosition, randLo,
                    randHi] = attributes;
        if (releaseFromFull) {
            trigger.releaseFromFull = integer(releaseFromFull->value()) != 0;
        }
        if (seqLength) {
            trigger.seqLength = integer(seqLength->value());
        }
        if (seqPosition) {
            trigger.seqPosition = integer(seqPosition->value());
        }
        if (randLo) {
            trigger.randLo = decimal(*randLo);
        }
        if (randHi) {
            trigger.randHi = decimal(*randHi);
        }
        if (low) {
            trigger.velLo = integer(low->value());
        }
        if (high) {
            trigger.velHi = integer(high->value());
        }
        if (group) {
            trigger.chokeGroup = integer(group->value());
        }
        if (loopRelease) {
            trigger.loopRelease = integer(loopRelease->value()) != 0;
        }
    }

    // A layer is read with the Wave reader itself, so that it takes every
    // optional attribute a Wave takes, now and later.
    void readLayerElement(const Element& element, SampleLayer& layer) const {
        readWav(element, layer.wave);
        TriggerAttributes trigger;
        for (const Attribute* a = element.first_attribute(); a; a = a->next_attribute()) {
            const Attribute** slot = trigger.slot(std::string_view(a->name(), a->name_size()));
            if (slot && !*slot) {
                *slot = a;
            }
        }
        readTrigger(trigger, layer.trigger);
    }

    void readSample(const Element& element, Sample& sample) const {
        const Attribute* midi = nullptr;
        const Attribute* dynamic = nullptr;
        const Attribute* option = nullptr;
        const Attribute* string = nullptr;
        TriggerAttributes trigger;
        for (const Attribute* a = element.first_attribute(); a; a = a->next_attribute()) {
            const std::string_view name(a->name(), a->name_size());
            const Attribute** slot = name == "midi"      ? &midi
                                     : name == "dynamic" ? &dynamic
                                     : name == "option"  ? &option
                                     : name == "string"  ? &string
                                                         : trigger.slot(name);
            if (slot && !*slot) {
                *slot = a;
            }
        }
        if (midi) {
            sample.midi = smallInteger(*midi);
        }
        if (dynamic) {
            sample.dynamic.assign(dynamic->value(), dynamic->value_size());
        }
        if (option) {
            sample.option.assign(option->value(), option->value_size());
        }
        if (string) {
            sample.string = smallInteger(*string);
        }
        readTrigger(trigger, sample.trigger);
        size_t waves = 0;
        for (const Element* child = element.first_node(); child; child = child->next_sibling()) {
            waves += named(*child, "Wave");
        }
        sample.wavs.reserve(waves);
        for (const Element* child = element.first_node(); child; child = child->next_sibling()) {
            if (named(*child, "Wave")) {
                readWav(*child, sample.wavs.emplace_back());
            } else if (named(*child, "Layer")) {
                readLayerElement(*child, sample.layers.emplace_back());
            }
        }
    }

    void readSamples(const Element& element, std::vector<Sample>& samples) const {
        // Grown as read rather than counted first: a counting walk over a large
        // bank's samples meets every node cold, and costs more than the moves.
        for (const Element* child = element.first_node(); child; child = child->next_sibling()) {
            if (!named(*child, "Sample")) {
                continue;
            }
            readSample(*child, samples.emplace_back());
            if (m_excludedCount > 0 && isExcluded(samples.back())) {
                samples.pop_back();
            }
        }
    }
};

} // namespace

void parse(rapidxml::xml_document<char>& document, std::vector<char>& text) {
    // The parser itself skips a leading UTF-8 byte-order mark.
    checkDescriptionLimits(text.data());
    document.parse<0>(text.data());
}

void applyRootAttributes(SoundFont::Impl& bank, const Element& root) {
    const auto& handlers = rootHandlers();
    for (const Attribute* a = root.first_attribute(); a; a = a->next_attribute()) {
        const auto handler = handlers.find(std::string_view(a->name(), a->name_size()));
        if (handler != handlers.end()) {
            handler->second(bank, *a);
        }
    }
}

// Each "Node" is one level deeper in the document, and checkDescriptionLimits()
// has refused documents deeper than kMaxDescriptionDepth, so this recursion and
// every later walk over the layers stay within that bound.
Layer readLayer(const Element& element, const std::string& bankId) {
    return Reader(bankId).readLayer(element);
}

} // namespace ox::soundfont::description
