#pragma once

// A bank that serves synthesized WAV samples from memory and counts how often
// each is opened; after hold() its next audioStream waits until release().

#include "support/TestSupport.h"

#include <atomic>
#include <map>
#include <mutex>
#include <semaphore>

namespace oxtest {

class CountingBank : public MemoryBank {
public:
    CountingBank() : MemoryBank("<Bank id=\"counting\"/>") { initialize(); }

    void addTone(const std::string& name, int64_t frames = 1000) {
        addSample(name, encodeTone(AudioFormat::Wav16, Tone{.frames = frames}));
    }

    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override {
        {
            std::lock_guard lock(m_mutex);
            ++m_opens[name];
        }
        if (m_hold.exchange(false)) {
            m_entered.release();
            m_released.acquire();
        }
        return MemoryBank::audioStream(name);
    }

    int opens(const std::string& name) const {
        std::lock_guard lock(m_mutex);
        return m_opens.count(name) ? m_opens.at(name) : 0;
    }

    void hold() { m_hold = true; }
    void waitUntilEntered() { m_entered.acquire(); }
    void release() { m_released.release(); }

private:
    mutable std::mutex m_mutex;
    mutable std::map<std::string, int> m_opens;
    mutable std::atomic<bool> m_hold{false};
    mutable std::binary_semaphore m_entered{0}, m_released{0};
};

} // namespace oxtest
