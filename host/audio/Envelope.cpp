#include <ox/audio/Envelope.h>

#include <algorithm>
#include <cmath>

namespace ox::audio {

namespace {

constexpr double kSilence = 1e-5; // -100 dB
constexpr double kMaxSeconds = 100000.0;

int64_t framesOf(double seconds, int rate) {
    if (!(seconds > 0.0)) { // also NaN
        return 0;
    }
    return std::llround(std::min(seconds, kMaxSeconds) * double(std::max(rate, 1)));
}

} // namespace

void EnvelopeState::start(const Envelope& envelope, int rate) {
    m_attack = framesOf(envelope.attack, rate);
    m_hold = framesOf(envelope.hold, rate);
    m_decay = framesOf(envelope.decay, rate);
    m_sustain = std::isfinite(envelope.sustain) ? std::clamp(envelope.sustain, 0.0f, 1.0f) : 1.0;
    const int64_t delay = framesOf(envelope.delay, rate);
    if (delay == 0) {
        enter(Stage::Attack);
        return;
    }
    m_stage = Stage::Delay;
    m_level = 0.0;
    m_ratio = 1.0;
    m_slope = 0.0;
    m_left = delay;
}

void EnvelopeState::release(double seconds, int rate) {
    if (m_stage == Stage::Silent) {
        return;
    }
    const int64_t frames = framesOf(seconds, rate);
    if (frames == 0 || m_level <= kSilence) {
        enter(Stage::Silent);
    } else {
        curve(Stage::Release, m_level, kSilence, frames);
    }
}

void EnvelopeState::advance(int64_t frames) {
    if (frames >= m_left) {
        // The next stage starts from its own exact level: nothing drifts.
        switch (m_stage) {
        case Stage::Delay:
            enter(Stage::Attack);
            return;
        case Stage::Attack:
            enter(Stage::Hold);
            return;
        case Stage::Hold:
            enter(Stage::Decay);
            return;
        case Stage::Decay:
            enter(Stage::Sustain);
            return;
        default:
            enter(Stage::Silent);
            return;
        }
    }
    m_left -= frames;
    if (m_ratio == 1.0) {
        m_level += double(frames) * m_slope;
        return;
    }
    if (frames != m_powerFrames) {
        m_powerFrames = frames;
        m_power = std::pow(m_ratio, double(frames));
    }
    m_level *= m_power;
}

// Sets up `stage`, going on to the next one while a stage lasts no time.
void EnvelopeState::enter(Stage stage) {
    m_ratio = 1.0;
    m_slope = 0.0;
    m_left = kForever;
    switch (stage) {
    case Stage::Attack:
        if (m_attack > 0) {
            m_stage = Stage::Attack;
            m_level = 0.0;
            m_slope = 1.0 / double(m_attack);
            m_left = m_attack;
            return;
        }
        [[fallthrough]];
    case Stage::Hold:
        m_level = 1.0;
        if (m_hold > 0) {
            m_stage = Stage::Hold;
            m_left = m_hold;
            return;
        }
        [[fallthrough]];
    case Stage::Decay:
        if (m_decay > 0 && m_sustain < 1.0) {
            curve(Stage::Decay, 1.0, std::max(m_sustain, kSilence), m_decay);
            return;
        }
        [[fallthrough]];
    case Stage::Sustain:
        if (m_sustain > kSilence) {
            m_stage = Stage::Sustain;
            m_level = m_sustain;
            return;
        }
        [[fallthrough]];
    default:
        m_stage = Stage::Silent;
        m_level = 0.0;
        return;
    }
}

// A straight line in decibels from `from` to `to` (both above 0) over `frames`.
void EnvelopeState::curve(Stage stage, double from, double to, int64_t frames) {
    m_stage = stage;
    m_level = from;
    m_ratio = std::pow(to / from, 1.0 / double(frames));
    m_slope = 0.0;
    m_left = frames;
    m_powerFrames = 0;
}

} // namespace ox::audio
