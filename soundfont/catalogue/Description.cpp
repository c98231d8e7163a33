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
#include <utility>

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

// A record built by `fill` right where a vector's emplace_back() puts it.
// emplace_back() with no argument value-initializes, clearing every byte of
// the record before its members take their defaults; converting from this
// default-initializes instead, and the record is neither cleared nor moved.
template <class Record, class Fill> struct Built {
    Fill fill;
    operator Record() const {
        Record record;
        fill(record);
        return record;
    }
};

template <class Record, class Fill> Built<Record, Fill> built(Fill fill) {
    return {fill};
}

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

    // The attributes a "Wave" reads, each at its slot: its own, then the
    // envelope's in the order of Envelope's fields, then the voice shape's in
    // the order of readShape's values.
    static constexpr std::array<std::string_view, 34> kWavAttributes{
        "file",           "peak",
        "pickup",         "repitch",
        "velocity",       "ratio",
        "gain",           "ampDelay",
        "ampAttack",      "ampHold",
        "ampDecay",       "ampSustain",
        "ampRelease",     "pan",
        "cutoff",         "resonance",
        "velToCutoff",    "modDelay",
        "modAttack",      "modHold",
        "modDecay",       "modSustain",
        "modRelease",     "modEnvToPitch",
        "modEnvToCutoff", "modLfoDelay",
        "modLfoFreq",     "modLfoToPitch",
        "modLfoToCutoff", "modLfoToVolume",
        "vibLfoDelay",    "vibLfoFreq",
        "vibLfoToPitch",  "modAttackConvex"};
    enum : size_t {
        kFile,
        kPeak,
        kPickup,
        kRepitch,
        kVelocity,
        kRatio,
        kGain,
        kEnvelope,
        kShape = 13
    };

    static_assert(kWavAttributes[kEnvelope] == "ampDelay" && kWavAttributes[kShape] == "pan");

    // The first attribute of each name a Wave reads. Which slots are filled is
    // kept in a mask, so that the slots themselves need no clearing per Wave.
    class WavAttributes {
    public:
        explicit WavAttributes(const Element& element) {
            for (const Attribute* a = element.first_attribute(); a; a = a->next_attribute()) {
                const size_t i = slotOf(std::string_view(a->name(), a->name_size()),
                                        std::make_index_sequence<kWavAttributes.size()>());
                if (i < kWavAttributes.size() && !(m_filled >> i & 1)) {
                    m_filled |= uint64_t(1) << i;
                    m_slots[i] = a;
                }
            }
        }

        const Attribute* operator[](size_t i) const {
            return m_filled >> i & 1 ? m_slots[i] : nullptr;
        }

        // Whether any of the `count` slots from `first` is filled.
        bool any(size_t first, size_t count) const {
            return (m_filled >> first) & ((uint64_t(1) << count) - 1);
        }

    private:
        // Unrolled, so that each name is compared as constants, most common first.
        template <size_t... I>
        static size_t slotOf(std::string_view name, std::index_sequence<I...>) {
            size_t slot = sizeof...(I);
            static_cast<void>(((name == kWavAttributes[I] && (slot = I, true)) || ...));
            return slot;
        }

        uint64_t m_filled = 0;
        std::array<const Attribute*, kWavAttributes.size()> m_slots;
    };

    float value(const WavAttributes& attributes, size_t i, float absent = 0.0f) const {
        const Attribute* a = attributes[i];
        return a ? decimal(*a) : absent;
    }

    // Times in seconds, the sustain in decibels; absent parts are 0 s and 0 dB.
    ox::audio::Envelope readEnvelope(const WavAttributes& attributes) const {
        const auto part = [&](size_t i) { return value(attributes, kEnvelope + i); };
        ox::audio::Envelope envelope;
        envelope.delay = part(0);
        envelope.attack = part(1);
        envelope.hold = part(2);
        envelope.decay = part(3);
        envelope.sustain = powf(10.0f, part(4) / 20.0f);
        envelope.release = part(5);
        return envelope;
    }

    // Units as the player takes them: Hz, dB, seconds and cents; the
    // modulation envelope's sustain a level from 0 to 1. Absent parts are off.
    ox::audio::VoiceShape readShape(const WavAttributes& attributes) const {
        const auto part = [&](size_t i, float absent = 0.0f) {
            return value(attributes, kShape + i, absent);
        };
        ox::audio::VoiceShape shape;
        if (attributes[kShape]) {
            shape.pan = part(0);
        }
        shape.cutoff = part(1);
        shape.resonance = part(2);
        shape.velocityToCutoff = part(3);
        shape.modEnvelope = {part(4), part(5), part(6), part(7), part(8, 1.0f), part(9)};
        shape.modEnvelopeToPitch = part(10);
        shape.modEnvelopeToCutoff = part(11);
        shape.modLfo = {part(12), part(13)};
        shape.modLfoToPitch = part(14);
        shape.modLfoToCutoff = part(15);
        shape.modLfoToVolume = part(16);
        shape.vibratoLfo = {part(17), part(18)};
        shape.vibratoToPitch = part(19);
        if (const Attribute* convex = attributes[kShape + 20]) {
            shape.modAttackConvex = integer(convex->value()) != 0;
        }
        return shape;
    }

    // One pass over the attributes; the first of each name counts.
    void readWav(const Element& element, Wav& wav) const {
        const WavAttributes attributes(element);
        if (const Attribute* file = attributes[kFile]) {
            wav.file.assign(file->value(), file->value_size());
        }
        if (const Attribute* peak = attributes[kPeak]) {
            wav.peak = decimal(*peak);
        }
        if (const Attribute* pickup = attributes[kPickup]) {
            wav.pickup.assign(pickup->value(), pickup->value_size());
        }
        if (const Attribute* repitch = attributes[kRepitch]) {
            wav.repitch = decimal(*repitch);
        }
        // Banks marked with a trailing "+" were recorded with the opposite sign.
        if (m_flipRepitch) {
            wav.repitch = static_cast<float>(wav.repitch * -1.0);
        }
        if (const Attribute* velocity = attributes[kVelocity]) {
            wav.velocity = integer(velocity->value());
        }
        if (const Attribute* ratio = attributes[kRatio]) {
            wav.ratio = decimal(*ratio);
        }
        if (const Attribute* gain = attributes[kGain]) {
            wav.gain = powf(10.0f, decimal(*gain) / 20.0f);
        }
        if (attributes.any(kEnvelope, kShape - kEnvelope)) {
            wav.envelope = readEnvelope(attributes);
        }
        if (attributes.any(kShape, kWavAttributes.size() - kShape)) {
            wav.shape = std::make_shared<const ox::audio::VoiceShape>(readShape(attributes));
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
                sample.wavs.emplace_back(built<Wav>([&](Wav& wav) { readWav(*child, wav); }));
            } else if (named(*child, "Layer")) {
                sample.layers.emplace_back(built<SampleLayer>(
                    [&](SampleLayer& layer) { readLayerElement(*child, layer); }));
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
            samples.emplace_back(
                built<Sample>([&](Sample& sample) { readSample(*child, sample); }));
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
