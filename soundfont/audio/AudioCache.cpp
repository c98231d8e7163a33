#include <soundfont/AudioCache.h>
#include <soundfont/SoundFont.h>

#include "audio/ProcessCache.h"

#include <oxprof/oxprof.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace ox::soundfont {

namespace {

struct CacheEntry {
    std::shared_ptr<ox::audio::AudioStream> stream; ///< keeps the stream while nobody plays it
    std::weak_ptr<ox::audio::AudioStream> watch;    ///< tells whether anyone else holds it
};

AudioCache processCache;

void reportCount(int count) {
    if (oxprof_should_ignore("AudioCache")) {
        return;
    }
    oxprof_value* object = oxprof_json_make_object();
    oxprof_json_object_add_value(object, "Count", oxprof_json_make_int(count));
    oxprof_counter_event("AudioCache", "Samples", object);
}

} // namespace

AudioCache& processAudioCache() {
    return processCache;
}

struct AudioCache::Impl {
    // Declared before the mutex so that the mutex goes first on destruction.
    std::unordered_map<std::string, CacheEntry> table;
    mutable std::mutex mutex;
};

AudioCache::AudioCache() : m_impl(std::make_unique<Impl>()) {}

AudioCache::~AudioCache() = default;

ox::audio::TQ7SamplePlayer AudioCache::loadSample(const SoundFont& bank, const std::string& name) {
    std::lock_guard lock(m_impl->mutex);
    auto found = m_impl->table.find(name);
    if (found == m_impl->table.end()) {
        // Opened under the lock, so concurrent first loads of one name open the file once.
        // An empty result is kept too, until the next optimizeMemory.
        auto stream = bank.audioStream(name);
        found = m_impl->table.emplace(name, CacheEntry{stream, stream}).first;
    }
    return ox::audio::TQ7SamplePlayer(found->second.stream);
}

std::optional<ox::audio::TQ7SamplePlayer> AudioCache::tryLoadSample(const std::string& name) {
    std::unique_lock lock(m_impl->mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return std::nullopt;
    }
    const auto found = m_impl->table.find(name);
    if (found == m_impl->table.end()) {
        return std::nullopt;
    }
    return ox::audio::TQ7SamplePlayer(found->second.stream);
}

int AudioCache::memoryByteCount() const {
    std::unique_lock lock(m_impl->mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return 0;
    }
    // Summed in 32 bits, each stream's count cut to its low 32 bits.
    uint32_t total = 0;
    for (const auto& [name, entry] : m_impl->table) {
        if (auto stream = entry.watch.lock()) {
            total += static_cast<uint32_t>(stream->byteCount());
        }
    }
    return static_cast<int>(total);
}

void AudioCache::optimizeMemory() {
    std::unique_lock lock(m_impl->mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return;
    }
    for (auto it = m_impl->table.begin(); it != m_impl->table.end();) {
        it->second.stream.reset();
        if (it->second.watch.expired()) {
            it = m_impl->table.erase(it);
        } else {
            it->second.stream = it->second.watch.lock();
            ++it;
        }
    }
    reportCount(static_cast<int>(m_impl->table.size()));
}

int AudioCache::streamCount() const {
    std::lock_guard lock(m_impl->mutex);
    return static_cast<int>(m_impl->table.size());
}

} // namespace ox::soundfont
