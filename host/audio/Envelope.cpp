#include <ox/audio/Envelope.h>

#include <algorithm>
#include <cmath>

namespace ox::audio {

namespace {

constexpr double kSilence = 1e-5; // -100 dB
constexpr double kMaxSeconds = 100000.0;
// A straight piece spanning at most this many decibels of a curve.
constexpr double kPieceDecibels = 0.5;
constexpr int64_t kMaxPieceFrames = 8192;

int64_t framesOf(double seconds, int rate) {
    if (!(seconds > 0.0)) // also NaN
        return 0;
    return std::llround(std::min(seconds, kMaxSeconds) * double(std::max(rate, 1)));
}

} // namespace

void EnvelopeState::start(const Envelope& envelope, int rate) {
    m_attack = framesOf(envelope.attack, rate);
    m_hold = framesOf(envelope.hold, rate);
    m_decay = framesOf(envelope.decay, rate);
    m_sustain = std::isfinite(envelope.sustain) ? std::clamp(envelope.sustain, 0.0f, 1.0f) : 1.0f;
    const int64_t delay = framesOf(envelope.delay, rate);
    if (delay == 0) {
        enter(Stage::Attack);
        return;
    }
    m_stage = Stage::Delay;
    m_level = 0.0f;
    m_slope = 0.0f;
    m_left = delay;
}

void EnvelopeState::release(double seconds, int rate) {
    if (m_stage == Stage::Silent)
        return;
    const int64_t frames = framesOf(seconds, rate);
    if (frames == 0 || m_level <= kSilence) {
        enter(Stage::Silent);
        return;
    }
    m_stage = Stage::Release;
    beginCurve(m_level, kSilence, frames);
}

// Sets up `stage`, going on to the next one while a stage lasts no time.
void EnvelopeState::enter(Stage stage) {
    m_slope = 0.0f;
    m_left = kForever;
    switch (stage) {
    case Stage::Attack:
        if (m_attack > 0) {
            m_stage = Stage::Attack;
            m_level = 0.0f;
            m_slope = float(1.0 / double(m_attack));
            m_left = m_attack;
            return;
        }
        [[fallthrough]];
    case Stage::Hold:
        m_level = 1.0f;
        if (m_hold > 0) {
            m_stage = Stage::Hold;
            m_left = m_hold;
            return;
        }
        [[fallthrough]];
    case Stage::Decay:
        if (m_decay > 0 && m_sustain < 1.0f) {
            m_stage = Stage::Decay;
            beginCurve(1.0, std::max<double>(m_sustain, kSilence), m_decay);
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
        m_level = 0.0f;
        return;
    }
}

// A straight line in decibels from `from` to `to` (both above 0) over `frames`.
void EnvelopeState::beginCurve(double from, double to, int64_t frames) {
    m_frameRatio = std::pow(to / from, 1.0 / double(frames));
    const double decibelsPerFrame = std::fabs(20.0 * std::log10(m_frameRatio));
    const double pieceFrames =
        decibelsPerFrame > 0.0 ? kPieceDecibels / decibelsPerFrame : double(kMaxPieceFrames);
    m_pieceFrames = std::clamp<int64_t>(int64_t(std::min(pieceFrames, double(kMaxPieceFrames))), 1,
                                        kMaxPieceFrames);
    m_pieceRatio = std::pow(m_frameRatio, double(m_pieceFrames));
    m_curveLeft = frames;
    curvePiece(from);
}

// The chord of the curve from `from` over the next piece; the next piece starts
// where this one ends exactly, so the pieces do not drift from the curve.
void EnvelopeState::curvePiece(double from) {
    const int64_t n = std::min(m_pieceFrames, m_curveLeft);
    const double to =
        from * (n == m_pieceFrames ? m_pieceRatio : std::pow(m_frameRatio, double(n)));
    m_level = float(from);
    m_slope = float((to - from) / double(n));
    m_left = n;
    m_curveLeft -= n;
    m_curveLevel = to;
}

void EnvelopeState::nextPiece() {
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
    case Stage::Release:
        if (m_curveLeft > 0)
            curvePiece(m_curveLevel);
        else
            enter(m_stage == Stage::Decay ? Stage::Sustain : Stage::Silent);
        return;
    default: // the stages that last for ever
        return;
    }
}

} // namespace ox::audio
