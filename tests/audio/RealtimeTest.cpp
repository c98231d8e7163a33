// What an audio thread calls must not touch the heap or wait on a lock: this
// binary counts every global allocation and every pthread_mutex_lock while
// prefetched and non-blocking players render and while players are looked up
// without waiting.

#include "AudioTestUtil.h"
#include "support/CountingAllocations.h"
#include "support/CountingLocks.h"

#include <soundfont/SoundFont.h>

#include <gtest/gtest.h>

using namespace oxtest;
using ox::audio::TQ7SamplePlayer;

namespace {

struct Counts {
    long allocations = oxtest::allocationCount.load();
    long locks = lockCount.load();
};

} // namespace

TEST(RealTime, PrefetchedAndNonBlockingPlayersNeitherAllocateNorLock) {
    // Ten seconds of looping stereo; a stream decodes only its first block up front.
    const Tone tone{.channels = 2, .frames = 441000, .loopStart = 100000, .loopEnd = 400000};
    const std::string bytes = encodeTone(AudioFormat::Flac16, tone);
    auto prefetched = std::make_shared<ox::audio::AudioStream>(
        decoderFor(AudioFormat::Flac16, memoryStream(bytes)), 0);
    auto fresh = std::make_shared<ox::audio::AudioStream>(
        decoderFor(AudioFormat::Flac16, memoryStream(bytes)), 0);

    // A bent note, one through the sinc and a plain one, all with envelopes,
    // released on the way.
    TQ7SamplePlayer bent(prefetched), sinc(prefetched), plain(prefetched), early(fresh);
    TQ7SamplePlayer shaped(prefetched);
    bent.setTransposition(0.37);
    // Everything of a voice shape at once: filter, both oscillators, envelope, pan.
    ox::audio::VoiceShape shape;
    shape.pan = -0.3f;
    shape.cutoff = 3000.0f;
    shape.resonance = 9.0f;
    shape.velocityToCutoff = -2400.0f;
    shape.modEnvelope = {.attack = 0.1f, .decay = 0.5f, .sustain = 0.2f, .release = 0.3f};
    shape.modEnvelopeToPitch = 50.0f;
    shape.modEnvelopeToCutoff = 2400.0f;
    shape.modLfo = {.delay = 0.1f, .frequency = 3.0f};
    shape.modLfoToCutoff = 600.0f;
    shape.modLfoToVolume = 2.0f;
    shape.vibratoLfo = {.delay = 0.2f, .frequency = 5.5f};
    shape.vibratoToPitch = 20.0f;
    shaped.setShape(shape);
    shaped.setVelocity(70);
    sinc.setTransposition(3.2);
    sinc.setInterpolation(ox::audio::Interpolation::Sinc);
    for (TQ7SamplePlayer* player : {&bent, &sinc, &plain, &shaped}) {
        player->setEnvelope({.attack = 0.01f, .decay = 0.5f, .sustain = 0.3f, .release = 0.2f});
        player->prefetch(int64_t(1) << 40); // whatever it may ever reach
    }
    early.setNonBlocking(true);

    std::vector<float> out(2 * 512);
    int64_t missed = 0;
    const Counts before;
    for (int block = 0; block < 1200; ++block) {
        if (block == 1000) {
            bent.release();
            sinc.release();
            plain.release(0.05);
            shaped.release();
        }
        bent.render(out.data(), 512, 2);
        sinc.mix(out.data(), 512, 2, nullptr);
        plain.render(out.data(), 512, 2);
        shaped.mix(out.data(), 512, 2, nullptr);
        if (block < 100) {
            early.render(out.data(), 512, 2);
            missed += early.missedFrames();
        }
    }
    const Counts after;
    EXPECT_EQ(after.allocations - before.allocations, 0);
    EXPECT_EQ(after.locks - before.locks, 0);
    EXPECT_TRUE(bent.finished() && sinc.finished() && plain.finished() && shaped.finished());
    // The non-blocking player plays on past what is decoded, in silence, and says so.
    EXPECT_GT(missed, 0);
    EXPECT_EQ(play(early, 512, 2), std::vector<float>(2 * 512, 0.0f));
    EXPECT_EQ(early.missedFrames(), 512);

    // Once a loader thread has decoded the stream, it plays what a blocking player plays.
    fresh->ensureDecoded(fresh->frameCount());
    TQ7SamplePlayer blocking(fresh);
    early.reset();
    EXPECT_EQ(play(early, 100000, 2), play(blocking, 100000, 2));
    EXPECT_EQ(early.missedFrames(), 0);
}

TEST(RealTime, TriedPlayersOfCachedSamplesNeitherAllocateNorLock) {
    MemoryBank bank(R"(<Bank id="realtime"><SamplesTree><Node class="pick"><Node class="sustain">
        <Node class="down"><Samples>
          <Sample midi="60" dynamic="F"><Wave file="realtime-c.wav" ampRelease="0.1"/></Sample>
          <Sample midi="80" dynamic="F"><Wave file="realtime-a.wav"/></Sample>
          <Sample midi="70" dynamic="F"><Wave file="realtime-c.wav" cutoff="900" modLfoFreq="4"
              modLfoToCutoff="300"/><Layer file="realtime-c.wav" pan="0.5" vibLfoFreq="5"
              vibLfoToPitch="10"/></Sample>
        </Samples></Node></Node></Node></SamplesTree></Bank>)");
    for (const char* name : {"realtime-c.wav", "realtime-a.wav"}) {
        bank.addSample(name, encodeTone(AudioFormat::Wav16, Tone{.frames = 4000}));
    }
    bank.initialize();
    // Warm-up on a loader thread: the tree, the stream in the cache.
    const auto loaded = bank.samplePlayer(62, 10);

    std::vector<ox::soundfont::VelocityPlayer> layered;
    layered.reserve(4);
    bank.samplePlayersForVelocity(70, 90);
    std::vector<float> out(2 * 256);

    bool served = false, refused = false;
    const Counts before;
    {
        // A layered note of shaped players, looked up and rendered.
        served = bank.trySamplePlayersForVelocity(70, 90, layered) && layered.size() == 2 &&
                 layered[1].player.shape();
        for (auto& played : layered) {
            played.player.mix(out.data(), 256, 2, nullptr);
        }
        auto tried = bank.trySamplePlayer(62, 10);
        served = served && tried && tried->first.stream() == loaded.first.stream() &&
                 tried->second == 2.0 && tried->first.envelope();
        refused = !bank.trySamplePlayer(80, 10); // not loaded yet: nothing, and no file opened
    }
    const Counts after;
    EXPECT_TRUE(served);
    EXPECT_TRUE(refused);
    EXPECT_EQ(after.allocations - before.allocations, 0);
    EXPECT_EQ(after.locks - before.locks, 0);
}
