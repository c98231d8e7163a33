#include <ox/audio/SoundCorrection.h>

#include <cstddef>

namespace ox::audio {

void SoundCorrection::setSoundCorrection(Type type, float value) {
    if (type < 0 || type >= TypeCount) {
        return;
    }
    m_values[static_cast<std::size_t>(type)] = value;
    m_setMask = static_cast<uint8_t>(m_setMask | (1u << type));
}

bool SoundCorrection::tryGetSoundCorrection(Type type, float& value) const {
    if (type < 0 || type >= TypeCount || !(m_setMask & (1u << type))) {
        return false;
    }
    value = m_values[static_cast<std::size_t>(type)];
    return true;
}

} // namespace ox::audio
