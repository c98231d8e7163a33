#include "Engine.h"

#include <soundfont/SampleCoordinate.h>
#include <soundfont/SampleTree.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ox::synth {

using namespace ox::soundfont;
using ox::audio::VoiceShape;

namespace {

// Releases longer than this are cut short, so that a song's tail stays bounded.
constexpr double kMaxReleaseSeconds = 10.0;
constexpr int kClosedHiHat = 42;
constexpr int kPedalHiHat = 44;
constexpr int kOpenHiHat = 46;
constexpr int kNoParameter = 0x3FFF;
// Notes further than this from the nearest sample lie outside the bank's range:
// imported banks play an octave and more from one sample by design.
constexpr int kFarOff = 24;

/// Volume and expression: 40·log10(value/127) dB, the General MIDI curve.
float controllerGain(int value) {
    const float x = static_cast<float>(value) / 127.0f;
    return x * x;
}

} // namespace

Engine::Engine(Choices& choices, const SynthSettings& settings)
    : m_choices(choices), m_settings(settings) {
    // A note the cache could not serve waits this long at most: later, it would
    // be heard out of time.
    m_maxPendingFrames = std::max(1, m_settings.sampleRate / 10);
    // A release that is no length fades at once rather than never.
    if (!(m_settings.release >= 0.0)) {
        m_settings.release = 0.0;
    }
    m_voices.reserve(Synth::kMaxVoices);
    m_notePlayers.reserve(Synth::kMaxVoices);
    if (settings.highQuality) {
        // The sinc's table is built on its first use: here, off the audio thread.
        ox::audio::TQ7SamplePlayer(nullptr).setInterpolation(ox::audio::Interpolation::Sinc);
    }
    for (Channel& channel : m_channels) {
        updateGains(channel);
    }
}

void Engine::handle(const MidiEvent& message) {
    // Data bytes are 7 bits: a host's stray high bit must not reach a table index.
    MidiEvent event = message;
    event.data1 &= 0x7F;
    event.data2 &= 0x7F;
    const int channel = event.channel();
    switch (event.type()) {
    case 0x90:
        if (event.data2 > 0) {
            noteOn(channel, event.data1, event.data2);
            break;
        }
        [[fallthrough]]; // velocity 0 is a note-off
    case 0x80:
        noteOff(channel, event.data1);
        break;
    case 0xB0:
        controller(channel, event.data1, event.data2);
        break;
    case 0xC0: {
        Channel& state = m_channels[channel];
        state.program = event.data1;
        state.programMsb = state.msb;
        state.programLsb = state.lsb;
        state.chosen = false;
        break;
    }
    case 0xE0:
        m_channels[channel].bendValue = (event.data2 << 7 | event.data1) - 8192;
        updateBend(channel);
        break;
    default: // key and channel pressure
        break;
    }
}

bool Engine::choose(int ch) {
    Channel& channel = m_channels[static_cast<size_t>(ch)];
    if (channel.chosen) {
        return true;
    }
    const uint32_t key = Choices::key(ch, channel.programMsb, channel.programLsb, channel.program);
    Choices::Slot& slot = m_choices.slot(key);
    if (slot.state == Choices::State::Ready) {
        channel.bank = slot.bank;
        channel.chosen = true;
        return true;
    }
    if (slot.state == Choices::State::Empty && m_choices.asked.push(key)) {
        slot.state = Choices::State::Asked;
    }
    return false;
}

void Engine::noteOn(int ch, int key, int velocity) {
    if (!choose(ch)) {
        ++m_missed; // the bank is not ready: never waited for
        return;
    }
    Channel& channel = m_channels[static_cast<size_t>(ch)];
    const Bank* bank = channel.bank;
    if (!bank) {
        return;
    }
    const SampleTreeNodeSample* sample = bank->sample(key, velocity);
    // A kit plays a piece at its own note only, never a neighbour transposed.
    if (!sample || (bank->kit() && (*sample)[SampleCoordinate::Midi] != key)) {
        return;
    }
    const Strike struck = strike(ch, key);
    if (!startNote(*bank, ch, key, velocity, struck)) {
        defer(*bank, ch, key, velocity, struck);
    }
}

Strike Engine::strike(int channel, int key) {
    // xorshift32: cheap, and the same song renders the same alternates every time.
    m_draw ^= m_draw << 13;
    m_draw ^= m_draw >> 17;
    m_draw ^= m_draw << 5;
    uint32_t& count = m_strikes[static_cast<size_t>(channel * 128 + key)];
    return Strike{count++, float(m_draw >> 8) * 0x1p-24f};
}

void Engine::defer(const Bank& bank, int channel, int key, int velocity, const Strike& strike) {
    if (m_pendingCount == m_pending.size()) {
        ++m_missed;
        return;
    }
    m_pending[m_pendingCount++] = Pending{&bank, channel, key, velocity, strike, 0, false};
}

void Engine::retryPending(int frames) {
    for (size_t i = 0; i < m_pendingCount;) {
        Pending& note = m_pending[i];
        const bool started =
            startNote(*note.bank, note.channel, note.key, note.velocity, note.strike);
        if (started && note.letGo) {
            noteOff(note.channel, note.key);
        }
        note.waited += frames;
        if (started || note.waited > m_maxPendingFrames) {
            m_missed += started ? 0 : 1;
            note = m_pending[--m_pendingCount];
        } else {
            ++i;
        }
    }
}

bool Engine::startNote(const Bank& bank, int ch, int key, int velocity, const Strike& strike) {
    // Every layer of the note, each a voice of its own. The files are cached:
    // failing means the cache is busy, while the loader opens a file.
    if (!bank.bank().trySamplePlayersForVelocity(key, velocity, strike, m_notePlayers)) {
        return false;
    }
    const Channel& channel = m_channels[static_cast<size_t>(ch)];

    // A key struck again ends its earlier note; a closed hi-hat stops the open one,
    // and a note of a choke group the sounding notes of its group.
    for (Voice& voice : m_voices) {
        if (voice.channel != ch) {
            continue;
        }
        if (voice.chokeGroup > 0 && chokes(voice.chokeGroup)) {
            // Its own release may be long: the group cuts it short even while it fades.
            release(voice, kChokeSeconds);
        } else if (voice.state == State::Released) {
            continue;
        } else if (voice.key == key) {
            voice.kit ? release(voice, kChokeSeconds) : release(voice);
        } else if (voice.kit && voice.key == kOpenHiHat &&
                   (key == kClosedHiHat || key == kPedalHiHat)) {
            release(voice, kChokeSeconds);
        }
    }
    for (VelocityPlayer& note : m_notePlayers) {
        makeRoom();
        note.player.setOutputSampleRate(m_settings.sampleRate);
        // Its audio is decoded in full already; a player that waited would stall the thread.
        note.player.setNonBlocking(true);
        if (m_settings.highQuality) {
            note.player.setInterpolation(ox::audio::Interpolation::Sinc);
        }
        const bool looping = note.player.stream() && note.player.stream()->looping();
        if (!bank.kit()) {
            note.player.setTransposition(note.transposition + channel.bend);
        }
        const VoiceShape* shape = note.player.shape();
        const std::optional<float> samplePan = shape ? shape->pan : std::nullopt;
        m_voices.push_back(Voice{std::move(note.player), note.transposition, m_serial++, ch, key,
                                 note.chokeGroup, State::Held, bank.kit(), looping, samplePan,
                                 samplePan.value_or(0.0f)});
    }
    return true;
}

bool Engine::chokes(int group) const {
    return std::any_of(m_notePlayers.begin(), m_notePlayers.end(),
                       [group](const VelocityPlayer& note) { return note.chokeGroup == group; });
}

void Engine::noteOff(int channel, int key) {
    for (size_t i = 0; i < m_pendingCount; ++i) {
        if (m_pending[i].channel == channel && m_pending[i].key == key) {
            m_pending[i].letGo = true; // a drum still rings once it starts
        }
    }
    for (Voice& voice : m_voices) {
        if (voice.channel == channel && voice.key == key && voice.state == State::Held) {
            letGo(voice);
        }
    }
}

void Engine::letGo(Voice& voice) {
    if (voice.kit && !voice.looping) {
        voice.state = State::Ringing; // a one-shot drum sounds to its end
    } else if (m_channels[voice.channel].pedal) {
        voice.state = State::Pedal;
    } else {
        release(voice);
    }
}

void Engine::releaseAll() {
    for (Channel& channel : m_channels) {
        channel.pedal = false;
    }
    for (Voice& voice : m_voices) {
        if (voice.state == State::Held || voice.state == State::Pedal) {
            letGo(voice);
        }
    }
}

void Engine::release(Voice& voice) {
    const ox::audio::Envelope* envelope = voice.player.envelope();
    release(voice, envelope ? voice.player.releaseTime() : m_settings.release);
}

void Engine::release(Voice& voice, double seconds) {
    voice.player.release(std::min(seconds, kMaxReleaseSeconds));
    voice.state = State::Released;
}

void Engine::makeRoom() {
    if (m_voices.size() < Synth::kMaxVoices) {
        return;
    }
    // The oldest voice that is fading or ringing out, else the oldest of all.
    const auto older = [](const Voice& a, const Voice& b) {
        const bool aHeld = a.state == State::Held || a.state == State::Pedal;
        const bool bHeld = b.state == State::Held || b.state == State::Pedal;
        return aHeld != bHeld ? bHeld : a.serial < b.serial;
    };
    removeVoice(static_cast<size_t>(std::min_element(m_voices.begin(), m_voices.end(), older) -
                                    m_voices.begin()));
    ++m_stolen;
}

void Engine::removeVoice(size_t index) {
    if (index + 1 < m_voices.size()) {
        m_voices[index] = std::move(m_voices.back());
    }
    m_voices.pop_back();
}

void Engine::controller(int ch, int number, int value) {
    Channel& channel = m_channels[ch];
    switch (number) {
    case 0:
        channel.msb = value;
        break;
    case 32:
        channel.lsb = value;
        break;
    case 7:
        channel.volume = value;
        updateGains(channel);
        break;
    case 10:
        channel.pan = value;
        updateGains(channel);
        break;
    case 11:
        channel.expression = value;
        updateGains(channel);
        break;
    case 64:
        channel.pedal = value >= 64;
        if (!channel.pedal) {
            for (Voice& voice : m_voices) {
                if (voice.channel == ch && voice.state == State::Pedal) {
                    release(voice);
                }
            }
        }
        break;
    case 101:
        channel.rpn = value << 7 | (channel.rpn & 0x7F);
        break;
    case 100:
        channel.rpn = (channel.rpn & 0x3F80) | value;
        break;
    case 98: // an NRPN: data entry is not for the pitch bend range now
    case 99:
        channel.rpn = kNoParameter;
        break;
    case 6: // data entry: semitones of the pitch bend range (RPN 0)
        if (channel.rpn == 0) {
            channel.bendRange = value + std::fmod(channel.bendRange, 1.0);
            updateBend(ch);
        }
        break;
    case 38: // data entry fine: its cents
        if (channel.rpn == 0) {
            channel.bendRange = std::floor(channel.bendRange) + value / 100.0;
            updateBend(ch);
        }
        break;
    case 120: // all sound off
        for (Voice& voice : m_voices) {
            if (voice.channel == ch) {
                release(voice, 0.0);
            }
        }
        break;
    case 121: // reset all controllers
        channel.expression = 127;
        channel.bendValue = 0;
        channel.rpn = kNoParameter;
        updateGains(channel);
        updateBend(ch);
        controller(ch, 64, 0);
        break;
    case 123: // all notes off
        for (Voice& voice : m_voices) {
            if (voice.channel == ch && voice.state == State::Held) {
                letGo(voice);
            }
        }
        break;
    default:
        break;
    }
}

void Engine::updateGains(Channel& channel) {
    // Constant power: the two gains' squares add up to 1, each -3 dB in the middle.
    const double place = std::clamp((channel.pan - 64) / 63.0, -1.0, 1.0);
    const double angle = (place + 1.0) * std::numbers::pi / 4.0;
    const float gain =
        m_settings.gain * controllerGain(channel.volume) * controllerGain(channel.expression);
    channel.left = gain * static_cast<float>(std::cos(angle));
    channel.right = gain * static_cast<float>(std::sin(angle));
    channel.level = gain;
    channel.place = static_cast<float>(place);
}

void Engine::updateBend(int ch) {
    Channel& channel = m_channels[ch];
    // 8191 up and 8192 down both reach the full range.
    channel.bend =
        channel.bendRange * channel.bendValue / (channel.bendValue > 0 ? 8191.0 : 8192.0);
    for (Voice& voice : m_voices) {
        if (voice.channel == ch && !voice.kit) {
            voice.player.setTransposition(voice.transposition + channel.bend);
        }
    }
}

int Engine::render(float* out, int frames) {
    frames = std::clamp(frames, 0, kChunkFrames);
    std::fill(out, out + frames * 2, 0.0f);
    retryPending(frames);
    m_peakVoices = std::max(m_peakVoices, m_voices.size());
    int64_t sounded = 0;
    for (size_t i = 0; i < m_voices.size();) {
        Voice& voice = m_voices[i];
        const Channel& channel = m_channels[static_cast<size_t>(voice.channel)];
        float gains[2] = {channel.left, channel.right};
        if (voice.samplePan) {
            // The two pans add up, and the player's own law applies the sum.
            const float pan = std::clamp(channel.place + *voice.samplePan, -1.0f, 1.0f);
            if (pan != voice.pan) {
                voice.player.setPan(pan);
                voice.pan = pan;
            }
            gains[0] = gains[1] = channel.level;
        }
        sounded = std::max(sounded, voice.player.mix(out, frames, 2, gains));
        if (voice.player.finished()) {
            removeVoice(i);
        } else {
            ++i;
        }
    }
    return static_cast<int>(sounded);
}

} // namespace ox::synth
