#include "demo/Synth.h"

#include "write/LoopWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace oxsf::demo {

namespace {

constexpr double TwoPi = 2.0 * std::numbers::pi;

/// xorshift32: cheap, deterministic noise in [-1, 1].
class Noise {
public:
    explicit Noise(uint32_t seed) : m_state(seed ? seed : 0x9E3779B9u) {}
    float next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return static_cast<float>(m_state) / 2147483648.0f - 1.0f;
    }

private:
    uint32_t m_state;
};

struct OnePole {
    double a;
    double y = 0.0;
    double lowpass(double x) { return y += a * (x - y); }
    double highpass(double x) { return x - lowpass(x); }
};

/// The smoothing factor of a one-pole lowpass with the given corner frequency.
double onePole(double corner, int sampleRate) {
    return 1.0 - std::exp(-TwoPi * corner / sampleRate);
}

/// Removes the offset a noise burst leaves and fades the last milliseconds, so
/// a sample neither starts the mix off-centre nor ends with a click.
void finish(Audio& audio, double fadeSeconds) {
    const int channels = audio.channels;
    for (int c = 0; c < channels; ++c) {
        double x1 = 0.0;
        double y1 = 0.0;
        for (int64_t i = 0; i < audio.frames(); ++i) {
            float& s = audio.samples[static_cast<size_t>(i * channels + c)];
            const double y = s - x1 + 0.9995 * y1;
            x1 = s;
            y1 = y;
            s = static_cast<float>(y);
        }
    }
    const int64_t fade =
        std::min<int64_t>(audio.frames(), static_cast<int64_t>(fadeSeconds * audio.sampleRate));
    for (int64_t i = 0; i < fade; ++i) {
        const float gain = static_cast<float>(i) / static_cast<float>(fade);
        for (int c = 0; c < channels; ++c) {
            audio.samples[static_cast<size_t>((audio.frames() - 1 - i) * channels + c)] *= gain;
        }
    }
}

} // namespace

float Audio::peak() const {
    float peak = 0.0f;
    for (float s : samples) {
        peak = std::max(peak, std::fabs(s));
    }
    return peak;
}

Audio pluck(const PluckSettings& p, int sampleRate) {
    Audio audio;
    audio.sampleRate = sampleRate;
    const size_t total = static_cast<size_t>(p.seconds * sampleRate);
    audio.samples.assign(total, 0.0f);

    // The two-point average in the loop delays by half a sample; the rest of
    // the period is a fractional delay read by linear interpolation.
    const double period = sampleRate / p.frequency;
    const double delay = period - 0.5;
    const double loss = std::pow(10.0, -3.0 * (period / sampleRate) / p.decay);

    // Excitation: one period of filtered noise, comb-filtered by the pick position.
    Noise noise(p.seed);
    OnePole tone{onePole(300.0 + 9000.0 * p.brightness * p.brightness, sampleRate)};
    const size_t length = static_cast<size_t>(std::ceil(period));
    std::vector<double> burst(length);
    for (double& s : burst) {
        s = tone.lowpass(noise.next());
    }
    const size_t pick = std::max<size_t>(1, static_cast<size_t>(p.pickPosition * period));
    std::vector<double> y(total, 0.0);
    double burstPeak = 1e-9;
    for (size_t i = 0; i < length && i < total; ++i) {
        y[i] = burst[i] - (i >= pick ? burst[i - pick] : 0.0);
        burstPeak = std::max(burstPeak, std::fabs(y[i]));
    }
    for (size_t i = 0; i < length && i < total; ++i) {
        y[i] /= burstPeak;
    }

    const auto at = [&y](double position) {
        if (position < 0.0) {
            return 0.0;
        }
        const size_t i = static_cast<size_t>(position);
        const double f = position - static_cast<double>(i);
        return y[i] + f * (y[i + 1] - y[i]);
    };
    for (size_t n = length; n < total; ++n) {
        const double position = static_cast<double>(n) - delay;
        y[n] = loss * 0.5 * (at(position) + at(position - 1.0));
    }
    for (size_t n = 0; n < total; ++n) {
        audio.samples[n] = static_cast<float>(y[n] * p.amplitude);
    }
    finish(audio, 0.03);
    return audio;
}

int64_t loopLengthFor(double frequency, int64_t wanted, int sampleRate) {
    const double period = sampleRate / frequency;
    int64_t best = std::max<int64_t>(1, std::llround(period));
    double bestError = 1e9;
    for (int64_t k = 1; k * period <= 2.0 * static_cast<double>(wanted) || k == 1; ++k) {
        const double exact = k * period;
        const double error = std::fabs(exact - std::round(exact)) +
                             std::fabs(exact - static_cast<double>(wanted)) / 1e4;
        if (error < bestError) {
            bestError = error;
            best = std::llround(exact);
        }
    }
    return best;
}

namespace {

struct DrumShape {
    double seconds;
    int channels;
};

DrumShape drumShape(Drum kind) {
    switch (kind) {
    case Drum::ClosedHat:
        return {0.35, 2};
    case Drum::OpenHat:
        return {0.9, 2};
    case Drum::Crash:
    case Drum::CrashEdge:
        return {1.5, 2};
    case Drum::Slap:
        return {0.4, 1};
    default:
        return {0.6, 1};
    }
}

/// One channel of a drum hit: its noise source, filters and oscillator phases.
class DrumVoice {
public:
    DrumVoice(Drum kind, double brightness, uint32_t seed, int channel, int sampleRate)
        : m_kind(kind), m_channel(channel), m_rate(sampleRate),
          m_air(0.4 + 0.6 * brightness), // how much of the high noise gets through
          m_noise(seed * 7919u + static_cast<uint32_t>(channel) * 104729u + 1u),
          m_low{onePole(2000.0 + 6000.0 * brightness, sampleRate)},
          m_high{onePole(6000.0, sampleRate)}, m_band{onePole(800.0, sampleRate)} {}

    /// The sample at `t` seconds; call once per frame, in order.
    double next(double t) {
        const double n = m_noise.next();
        switch (m_kind) {
        case Drum::Kick:
            return kick(t, n);
        case Drum::Snare:
        case Drum::Rimshot:
            return snare(t, n);
        case Drum::ClosedHat:
        case Drum::OpenHat:
            return m_air * m_high.highpass(n) *
                   std::exp(-t / (m_kind == Drum::ClosedHat ? 0.035 : 0.3));
        case Drum::Crash:
        case Drum::CrashEdge:
            return cymbal(t, n);
        case Drum::HandLow:
        case Drum::HandHigh:
            return hand(t, n);
        case Drum::Slap:
            m_phase += TwoPi * 310.0 / m_rate;
            return 0.5 * std::sin(m_phase) * std::exp(-t / 0.05) +
                   m_air * m_band.highpass(m_low.lowpass(n)) * std::exp(-t / 0.03);
        }
        return 0.0;
    }

private:
    double kick(double t, double n) {
        const double f = 45.0 + 110.0 * std::exp(-t / 0.04);
        m_phase += TwoPi * f / m_rate;
        return std::sin(m_phase) * std::exp(-t / 0.28) +
               0.5 * m_air * m_low.lowpass(n) * std::exp(-t / 0.004);
    }

    double snare(double t, double n) {
        const bool rim = m_kind == Drum::Rimshot;
        m_phase += TwoPi * (rim ? 330.0 : 185.0) / m_rate;
        m_phase2 += TwoPi * (rim ? 520.0 : 330.0) / m_rate;
        const double body = (0.6 * std::sin(m_phase) + 0.3 * std::sin(m_phase2)) *
                            std::exp(-t / (rim ? 0.04 : 0.07));
        const double snares =
            m_low.lowpass(m_band.highpass(n)) * std::exp(-t / (rim ? 0.09 : 0.16));
        const double click = rim ? n * std::exp(-t / 0.002) : 0.0;
        return body + m_air * 0.9 * snares + 0.8 * click;
    }

    double cymbal(double t, double n) {
        // A few inharmonic partials give the noise a metallic ring.
        static const double partials[] = {410.0, 587.0, 833.0, 1179.0, 1612.0, 2213.0};
        const bool edge = m_kind == Drum::CrashEdge;
        double metal = 0.0;
        for (double f : partials) {
            metal += std::sin(TwoPi * f * (edge ? 1.3 : 1.0) * t + m_channel * 1.7);
        }
        const double attack = std::min(1.0, t / 0.004);
        return attack * std::exp(-t / (edge ? 0.8 : 0.55)) *
               (m_air * m_high.highpass(n) * 1.4 + 0.05 * metal);
    }

    double hand(double t, double n) {
        const double base = m_kind == Drum::HandLow ? 110.0 : 180.0;
        m_phase += TwoPi * base * (1.0 + 0.15 * std::exp(-t / 0.03)) / m_rate;
        return std::sin(m_phase) * std::exp(-t / 0.22) +
               0.3 * m_air * m_low.lowpass(n) * std::exp(-t / 0.01);
    }

    Drum m_kind;
    int m_channel;
    double m_rate;
    double m_air;
    Noise m_noise;
    OnePole m_low, m_high, m_band;
    double m_phase = 0.0;
    double m_phase2 = 0.0;
};

} // namespace

Audio drum(Drum kind, double amplitude, double brightness, uint32_t seed, int sampleRate) {
    const DrumShape shape = drumShape(kind);
    Audio audio;
    audio.channels = shape.channels;
    audio.sampleRate = sampleRate;
    const int64_t frames = static_cast<int64_t>(shape.seconds * sampleRate);
    audio.samples.assign(static_cast<size_t>(frames * shape.channels), 0.0f);
    for (int c = 0; c < shape.channels; ++c) {
        DrumVoice voice(kind, brightness, seed, c, sampleRate);
        for (int64_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / sampleRate;
            audio.samples[static_cast<size_t>(i * shape.channels + c)] =
                static_cast<float>(voice.next(t));
        }
    }
    const float peak = audio.peak();
    if (peak > 0.0f) {
        for (float& s : audio.samples) {
            s *= static_cast<float>(amplitude) / peak;
        }
    }
    finish(audio, 0.02);
    return audio;
}

std::string writeAudio(const std::string& path, FileFormat format, const Audio& audio,
                       int64_t loopStart, int64_t loopEnd) {
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.sampleRate;
    switch (format) {
    case FileFormat::Wav:
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        break;
    case FileFormat::Flac:
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        break;
    case FileFormat::Ogg:
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        break;
    }
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        return sf_strerror(nullptr);
    }
    if (loopStart >= 0 && loopEnd > loopStart) {
        write::writeLoop(file, format == FileFormat::Wav, loopStart, loopEnd);
    }
    if (format == FileFormat::Ogg) {
        double quality = 0.6;
        sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t written = sf_writef_float(file, audio.samples.data(), audio.frames());
    const int closed = sf_close(file);
    if (written != audio.frames() || closed != 0) {
        return "short write";
    }
    return {};
}

} // namespace oxsf::demo
