#pragma once

#include <ox/audio/Envelope.h>

#include <optional>

/// \file
/// VoiceShape: what a player does to a sample beyond pitch and amplitude: pan,
/// a resonant low-pass filter and what moves it, and the vibrato.

namespace ox::audio {

/// A low-frequency oscillator: a triangle that starts at 0 and rises, after a delay.
struct Lfo {
    float delay = 0.0f;     ///< seconds from the note's start to the oscillator's
    float frequency = 0.0f; ///< Hz; 0 or less: off

    /// Equal when every field is.
    bool operator==(const Lfo&) const = default;
};

/// The voice of one sample as its author made it. Every part is off when it
/// holds its default, and a player with a default shape plays exactly as one
/// without a shape.
///
/// Units: pitch and cutoff depths in cents (1200 to the octave), a depth being
/// what the modulator moves at its full value (an envelope at 1, an
/// oscillator at its peak, either way); volume in dB.
struct VoiceShape {
    /// -1 hard left, 0 centre, 1 hard right, with constant power: each side
    /// -3 dB in the centre. None: the output channels get what they get without a shape.
    std::optional<float> pan;

    /// The two-pole low-pass filter's cutoff in Hz; 0 or less: no filter. A
    /// cutoff at or above kOpenCutoff that nothing moves and no resonance
    /// colours is bypassed.
    float cutoff = 0.0f;
    /// The height of the filter's peak above its gain at DC, in dB, 0 (none:
    /// -3 dB at the cutoff) to kMaxResonance.
    float resonance = 0.0f;
    /// Cents the cutoff moves at velocity 0, falling linearly to none at 127
    /// (soundfonts' default is -2400: softer notes sound darker).
    float velocityToCutoff = 0.0f;

    /// The modulation envelope; its sustain is a linear level, 0 to 1.
    Envelope modEnvelope;
    /// Its attack rises on the convex curve soundfont players give it, 1 +
    /// (40 / 96) log10(t / attack) (at least 0), 0.29 of the way up at a
    /// fiftieth of the attack, rather than in a straight line.
    bool modAttackConvex = false;
    float modEnvelopeToPitch = 0.0f;  ///< cents
    float modEnvelopeToCutoff = 0.0f; ///< cents

    /// The modulation oscillator and its depths.
    Lfo modLfo;
    float modLfoToPitch = 0.0f;  ///< cents
    float modLfoToCutoff = 0.0f; ///< cents
    float modLfoToVolume = 0.0f; ///< dB

    /// The vibrato oscillator and its depth.
    Lfo vibratoLfo;
    float vibratoToPitch = 0.0f; ///< cents

    /// Cutoffs from here on (Hz) count as fully open.
    static constexpr float kOpenCutoff = 19900.0f;
    /// The highest resonance a filter takes (dB); more is clamped.
    static constexpr float kMaxResonance = 96.0f;

    /// True when a filter is given (whether or not it is bypassed).
    bool filtered() const { return cutoff > 0.0f; }

    /// Equal when every part is.
    bool operator==(const VoiceShape&) const = default;
};

/// Absolute cents (6900 is 440 Hz) to Hz, and back; cutoffs are often given in cents.
///@{
double centsToHz(double cents);
double hzToCents(double hz);
///@}

} // namespace ox::audio
