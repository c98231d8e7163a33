#include <ox/audio/VoiceShape.h>

#include "VoiceModulation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ox::audio {

namespace {
// 0 cents, MIDI note 0.
constexpr double kCentsBase = 8.17579891564371;
} // namespace

bool VoiceShape::modulated() const {
    const bool envelope = modEnvelopeToPitch != 0.0f || (filtered() && modEnvelopeToCutoff != 0.0f);
    const bool mod = modLfo.frequency > 0.0f && (modLfoToPitch != 0.0f || modLfoToVolume != 0.0f ||
                                                 (filtered() && modLfoToCutoff != 0.0f));
    const bool vibrato = vibratoLfo.frequency > 0.0f && vibratoToPitch != 0.0f;
    return filtered() || envelope || mod || vibrato;
}

double centsToHz(double cents) {
    return kCentsBase * std::exp2(cents / 1200.0);
}

double hzToCents(double hz) {
    return hz > 0.0 ? 1200.0 * std::log2(hz / kCentsBase) : -1e9;
}

namespace voice {

double envelopeAt(const Envelope& e, double t) {
    if (t < e.delay) {
        return 0.0;
    }
    t -= e.delay;
    if (t < e.attack) {
        return t / e.attack;
    }
    t -= e.attack;
    if (t < e.hold) {
        return 1.0;
    }
    t -= e.hold;
    const double sustain = std::clamp(double(e.sustain), 0.0, 1.0);
    if (t < e.decay) {
        return 1.0 - (1.0 - sustain) * t / e.decay;
    }
    return sustain;
}

double lfoAt(const Lfo& lfo, double t) {
    if (lfo.frequency <= 0.0f || t <= lfo.delay) {
        return 0.0;
    }
    const double cycles = (t - lfo.delay) * lfo.frequency + 0.25;
    return 1.0 - 4.0 * std::abs(cycles - std::floor(cycles) - 0.5);
}

float damping(float resonance) {
    // The peak of a two-pole low-pass is G = Q^2 / sqrt(Q^2 - 1/4); solved for
    // Q this puts the peak exactly `resonance` dB up, and 0 dB is Butterworth.
    const double g = std::pow(10.0, std::clamp(resonance, 0.0f, VoiceShape::kMaxResonance) / 20.0);
    const double q2 = (g * g + std::sqrt(g * g * g * g - g * g)) / 2.0;
    return float(1.0 / std::sqrt(q2));
}

float frequencyCoefficient(double hz, int rate) {
    const double nyquist = 0.5 * double(rate);
    const double f = std::clamp(hz, 5.0, 0.499 * 2.0 * nyquist);
    return float(std::tan(std::numbers::pi * f / double(rate)));
}

void lowPass(float* frames, int channels, int64_t n, float g0, float g1, float k,
             float (*state)[2]) {
    // A trapezoidal state-variable filter: stable for every positive g and k,
    // however fast they move.
    const float dg = (g1 - g0) / float(n);
    for (int64_t j = 0; j < n; ++j, frames += channels) {
        const float g = g0 + dg * float(j + 1);
        const float a1 = 1.0f / (1.0f + g * (g + k));
        const float a2 = g * a1;
        const float a3 = g * a2;
        for (int c = 0; c < channels; ++c) {
            float& low = state[c][0];
            float& band = state[c][1];
            const float v3 = frames[c] - low;
            const float v1 = a1 * band + a2 * v3;
            const float v2 = low + a2 * band + a3 * v3;
            band = 2.0f * v1 - band;
            low = 2.0f * v2 - low;
            frames[c] = v2;
        }
    }
    for (int c = 0; c < channels; ++c) {
        // Keep a silent filter out of denormals.
        if (std::abs(state[c][0]) < 1e-20f && std::abs(state[c][1]) < 1e-20f) {
            state[c][0] = state[c][1] = 0.0f;
        }
    }
}

} // namespace voice

} // namespace ox::audio
