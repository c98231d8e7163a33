#include "catalogue/Description.h"

#include <math.h>

namespace ox::soundfont {

namespace {

// The loudness curve of a bank: +10 dB at full velocity, falling in four
// straight segments to -60 dB near zero, and -200 dB (silence) at zero.
float bankGainFromVelocity(float velocity) {
    const float attenuation = static_cast<float>(100.0 - static_cast<double>(100.0f * velocity));
    const double a = attenuation;
    double level;
    if (a <= 0) {
        level = 10.0;
    } else if (a < 48) {
        level = 10.0 - a * 0.4166666666666667;
    } else if (a < 84) {
        level = -10.0 - (a - 48.0) * 0.8333333333333334;
    } else if (a < 96) {
        level = -40.0 - (a - 84.0) * 1.6666666666666667;
    } else if (a < 100) {
        level = -60.0 - (a - 96.0) * 35.0;
    } else { // also NaN
        level = -200.0;
    }
    return powf(10.0f, static_cast<float>(level) / 20.0f);
}

const description::Element* rootElement(const rapidxml::xml_document<char>& document) {
    const description::Element* root = document.first_node();
    return root && root->type() == rapidxml::node_element ? root : nullptr;
}

} // namespace

const Wav* Layer::findWav(const std::string& file) const {
    for (const Sample& sample : samples) {
        for (const Wav& wav : sample.wavs) {
            if (wav.file == file) {
                return &wav;
            }
        }
    }
    for (const Layer& layer : layers) {
        if (const Wav* wav = layer.findWav(file)) {
            return wav;
        }
    }
    return nullptr;
}

SoundFont::Impl::Impl(SoundFont* owner) : owner(owner) {}

SoundFont::Impl::~Impl() = default;

SoundFont::SoundFont() : m_impl(std::make_unique<Impl>(this)) {}

SoundFont::~SoundFont() = default;

void SoundFont::initialize() {
    Impl& bank = *m_impl;
    // The parsed document lives only while this runs, also when reading throws.
    struct DocumentRelease {
        Impl& bank;
        ~DocumentRelease() { bank.document.reset(); }
    } release{bank};

    if (!bank.document) {
        if (auto stream = bank.owner->sampleXML()) {
            bank.document = std::make_unique<rapidxml::xml_document<char>>();
            bank.xmlText = stream->readAll();
            bank.xmlText.push_back('\0');
            description::parse(*bank.document, bank.xmlText);
            if (const auto* root = rootElement(*bank.document)) {
                description::applyRootAttributes(bank, *root);
            }
        }
    }
    bank.gain = bankGainFromVelocity(bank.velocity.load());
    if (!bank.document) {
        return;
    }
    const auto* root = rootElement(*bank.document);
    if (!root) {
        return;
    }
    // A description without a samples tree describes no samples.
    const auto* top = root->first_node("SamplesTree");
    bank.layer = top ? description::readLayer(*top, bank.id) : Layer{};
}

const std::string& SoundFont::id() const {
    return m_impl->id;
}
const std::string& SoundFont::name() const {
    return m_impl->name;
}
const std::string& SoundFont::type() const {
    return m_impl->type;
}
const std::string& SoundFont::description() const {
    return m_impl->description;
}
const std::vector<int>& SoundFont::tuning() const {
    return m_impl->tuning;
}
float SoundFont::velocity() const {
    return m_impl->velocity.load();
}

void SoundFont::setVelocity(float velocity) {
    m_impl->velocity.store(velocity);
    m_impl->gain = bankGainFromVelocity(velocity);
}

float SoundFont::gain() const {
    return m_impl->gain;
}

void SoundFont::setId(const std::string& id) {
    m_impl->id = id;
}

void SoundFont::setName(const std::string& name) {
    m_impl->name = name;
}

const Layer& SoundFont::layer() const {
    return m_impl->layer;
}

} // namespace ox::soundfont
