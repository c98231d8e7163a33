// Threads load and play while another releases memory: while a stream lives, every
// load of its name returns it, and its file is opened again only once it is gone.

#include "CountingBank.h"

#include <soundfont/AudioCache.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using ox::soundfont::AudioCache;

namespace {

// Records every stream the banks open and flags a second live stream of one name.
class WatchingBank : public oxtest::CountingBank {
public:
    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override {
        auto stream = CountingBank::audioStream(name);
        std::lock_guard lock(m_mutex);
        auto& previous = m_live[name];
        if (!previous.expired()) {
            m_overlaps++;
        }
        previous = stream;
        return stream;
    }
    static int overlaps() { return m_overlaps; }

private:
    // Shared by all banks: the cache keys by file name alone.
    static inline std::mutex m_mutex;
    static inline std::map<std::string, std::weak_ptr<ox::audio::AudioStream>> m_live;
    static inline std::atomic<int> m_overlaps{0};
};

} // namespace

TEST(AudioCacheStress, OneStreamPerNameWhileItLives) {
    const std::vector<std::string> names = {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"};
    WatchingBank banks[2];
    for (auto& bank : banks) {
        for (const auto& name : names) {
            bank.addTone(name, 3000);
        }
    }
    AudioCache cache;

    std::atomic<bool> stop{false};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> players;
    for (int t = 0; t < 4; ++t) {
        players.emplace_back([&, t] {
            float block[256];
            for (int i = 0; i < 300; ++i) {
                const auto& name = names[static_cast<size_t>(i + t) % names.size()];
                auto held = cache.loadSample(banks[(i + t) % 2], name);
                auto again = cache.loadSample(banks[(i + t + 1) % 2], name);
                mismatches += held.stream() != again.stream();
                held.render(block, 128, 2);
                again.render(block, 128, 2);
            }
        });
    }
    std::thread housekeeper([&] {
        while (!stop) {
            cache.optimizeMemory();
            (void)cache.memoryByteCount();
            std::this_thread::yield();
        }
    });
    for (auto& thread : players) {
        thread.join();
    }
    stop = true;
    housekeeper.join();

    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(WatchingBank::overlaps(), 0);
    cache.optimizeMemory();
    EXPECT_EQ(cache.streamCount(), 0);
}
