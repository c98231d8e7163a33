#include "AudioTestUtil.h"

#include <ox/audio/TQ7SamplePlayer.h>

#include <gtest/gtest.h>

#include <thread>

using namespace oxtest;
using ox::audio::AudioStream;
using ox::audio::TQ7SamplePlayer;

namespace {

/// Renders the whole stream in small blocks, as a host would.
std::vector<float> renderAll(const std::shared_ptr<AudioStream>& stream, double transposition) {
    const int64_t block = 256;
    TQ7SamplePlayer player(stream);
    player.setTransposition(transposition);
    std::vector<float> out;
    std::vector<float> buffer(size_t(block) * 2);
    while (!player.finished()) {
        player.render(buffer.data(), block, 2);
        out.insert(out.end(), buffer.begin(), buffer.end());
    }
    return out;
}

} // namespace

TEST(PlayerConcurrency, PlayersOfOneStreamOnManyThreadsAgree) {
    const Tone tone{.channels = 2, .frames = 150000};
    for (AudioFormat format : {AudioFormat::Flac16, AudioFormat::Wav24}) {
        // The expected output comes from a stream of its own, played alone.
        auto alone = audioStreamOf(format, tone, 0.8f);
        const std::vector<float> straight = renderAll(alone, 0.0);
        const std::vector<float> bent = renderAll(alone, 3.5);

        auto shared = audioStreamOf(format, tone, 0.8f);
        constexpr int kThreads = 4;
        std::vector<std::vector<float>> results(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(
                [&, t] { results[size_t(t)] = renderAll(shared, t % 2 ? 3.5 : 0.0); });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_EQ(results[size_t(t)], t % 2 ? bent : straight) << t;
        }
        EXPECT_EQ(shared->decodedFrames(), 150000);
        EXPECT_EQ(shared->byteCount(), alone->byteCount());
    }
}

TEST(PlayerConcurrency, DisablingTheLoopWhilePlaying) {
    const Tone tone{.frames = 40000, .loopStart = 100, .loopEnd = 39000};
    auto stream = audioStreamOf(AudioFormat::Wav16, tone);
    ASSERT_TRUE(stream->looping());
    std::thread player([&] { renderAll(stream, 0.0); }); // until the loop is disabled
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stream->disableLoop();
    player.join();
    EXPECT_FALSE(stream->looping());
}

TEST(PlayerConcurrency, NonBlockingPlayersReadWhileALoaderDecodes) {
    const Tone tone{.channels = 2, .frames = 300000};
    auto stream = audioStreamOf(AudioFormat::Flac16, tone);
    std::thread loader([&] {
        for (int64_t end = 0; end <= tone.frames; end += 10000) {
            stream->ensureDecoded(end);
        }
    });
    TQ7SamplePlayer player(stream);
    player.setNonBlocking(true);
    std::vector<float> out(2 * 256);
    int64_t played = 0;
    while (!player.finished()) {
        played += player.render(out.data(), 256, 2); // silent where the loader lags
    }
    loader.join();
    EXPECT_EQ(played, tone.frames);
}
