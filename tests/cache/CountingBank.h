#pragma once

// A bank that serves synthesized WAV samples from memory and counts how often
// each is opened; optionally its audioStream waits until released.

#include "support/TestSupport.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

namespace oxtest {

class CountingBank : public MemoryBank {
public:
    CountingBank() : MemoryBank("<Bank id=\"counting\"/>") { initialize(); }

    void addTone(const std::string& name, int64_t frames = 1000) {
        Tone tone;
        tone.frames = frames;
        addSample(name, encodeTone(AudioFormat::Wav16, tone));
    }

    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override {
        {
            std::unique_lock lock(m_mutex);
            ++m_opens[name];
            m_entered = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return !m_hold; });
        }
        return MemoryBank::audioStream(name);
    }

    int opens(const std::string& name) const {
        std::lock_guard lock(m_mutex);
        auto found = m_opens.find(name);
        return found == m_opens.end() ? 0 : found->second;
    }

    /// Makes the next audioStream calls wait until release().
    void hold() {
        std::lock_guard lock(m_mutex);
        m_hold = true;
        m_entered = false;
    }
    void waitUntilEntered() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_entered; });
    }
    void release() {
        std::lock_guard lock(m_mutex);
        m_hold = false;
        m_changed.notify_all();
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable std::map<std::string, int> m_opens;
    mutable bool m_entered = false;
    bool m_hold = false;
};

} // namespace oxtest
