// The audio path of a note: the first note of a sample (cold: nothing of the
// file decoded yet) until its player can render a first block, playing a whole
// sample at its recorded pitch (with and without an envelope), the memory a
// played file holds, and a player for a sample that is already cached. The
// baseline is libsndfile alone decoding the same file in the same run.
#include "BenchBanks.h"

#include <soundfont/AudioCache.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundFontManager.h>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QtGlobal>

#include <memory>
#include <vector>

using namespace oxsf::bench;
using ox::soundfont::AudioCache;
using ox::soundfont::SoundFont;
using ox::soundfont::SoundFontManager;

namespace {

// A host's audio callback size.
constexpr int kBlockFrames = 512;

std::shared_ptr<SoundFont> openBank(const std::string& path) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    SoundFontManager manager;
    auto bank = manager.addDirectory(path);
    if (bank) {
        bank->sampleTree(); // built once, like a host's first query
    }
    return bank;
}

// What samplePlayer does, through a cache of the benchmark's own so that it
// can be emptied between iterations.
std::pair<ox::audio::TQ7SamplePlayer, int> playerFor(const SoundFont& bank, AudioCache& cache,
                                                     int midi) {
    const auto* sample = bank.sampleTree().findSampleByMidi(midi, 10);
    return {cache.loadSample(bank, sample->files.begin()->second), midi - (*sample)[1]};
}

void BM_LibsndfileDecodeWhole(benchmark::State& state) {
    const std::string path = benchBanks().toneFile();
    std::vector<float> buffer;
    int64_t frames = 0;
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        if (!file) {
            state.SkipWithError("cannot open the tone file");
            break;
        }
        buffer.resize(static_cast<size_t>(info.frames * info.channels));
        frames = sf_readf_float(file, buffer.data(), info.frames);
        sf_close(file);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["frames"] = static_cast<double>(frames);
}

void firstNote(benchmark::State& state, const std::string& bankPath) {
    const auto bank = openBank(bankPath);
    if (!bank) {
        state.SkipWithError("bank did not open");
        return;
    }
    AudioCache cache;
    std::vector<float> out(kBlockFrames * 2);
    int64_t rendered = 0;
    for (auto _ : state) {
        {
            auto [player, transposition] = playerFor(*bank, cache, kAudioMidi);
            player.setTransposition(transposition);
            rendered += player.render(out.data(), kBlockFrames, 2);
            state.PauseTiming();
        }
        // Nobody plays the stream any more: the next iteration starts cold.
        cache.optimizeMemory();
        state.ResumeTiming();
    }
    if (rendered != int64_t(kBlockFrames) * state.iterations()) {
        state.SkipWithError("the first block was not rendered");
    }
}

void BM_FirstNote(benchmark::State& state) {
    firstNote(state, benchBanks().audioBank());
}

void BM_FirstNoteBench10000(benchmark::State& state) {
    firstNote(state, benchBanks().directoryBank(10000));
}

void BM_PlayWhole(benchmark::State& state) {
    const auto bank = openBank(benchBanks().audioBank());
    if (!bank) {
        state.SkipWithError("bank did not open");
        return;
    }
    AudioCache cache;
    std::vector<float> out(kBlockFrames * 2);
    int64_t frames = 0;
    double held = 0, cacheBytes = 0, expected = 0;
    for (auto _ : state) {
        {
            auto [player, transposition] = playerFor(*bank, cache, kAudioMidi);
            player.setTransposition(transposition);
            frames = 0;
            while (!player.finished()) {
                frames += player.render(out.data(), kBlockFrames, 2);
            }
            state.PauseTiming();
            const auto& stream = *player.stream();
            held = static_cast<double>(stream.byteCount());
            expected = static_cast<double>(stream.frameCount() * stream.channels() * 2);
            cacheBytes = cache.memoryByteCount();
        }
        cache.optimizeMemory();
        state.ResumeTiming();
    }
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["bytes_held"] = held;
    state.counters["bytes_expected"] = expected;
    state.counters["cache_bytes"] = cacheBytes;
}

// The same play over a stream that is already decoded: what rendering costs
// by itself, plain or under an envelope released `releaseSeconds` before the
// end of the sound, so that both render about as many frames.
void playDecoded(benchmark::State& state, const ox::audio::Envelope* envelope,
                 double releaseSeconds) {
    const auto bank = openBank(benchBanks().audioBank());
    if (!bank) {
        state.SkipWithError("bank did not open");
        return;
    }
    AudioCache cache;
    auto keep = playerFor(*bank, cache, kAudioMidi);
    const auto& stream = *keep.first.stream();
    stream.ensureDecoded(stream.frameCount());
    const int64_t releaseAt =
        stream.frameCount() - int64_t(releaseSeconds * double(stream.sampleRate()));
    std::vector<float> out(kBlockFrames * 2);
    int64_t frames = 0;
    for (auto _ : state) {
        auto [player, transposition] = playerFor(*bank, cache, kAudioMidi);
        player.setTransposition(transposition);
        if (envelope) {
            player.setEnvelope(*envelope);
        }
        frames = 0;
        while (!player.finished()) {
            if (envelope && frames >= releaseAt && !player.released()) {
                player.release();
            }
            frames += player.render(out.data(), kBlockFrames, 2);
        }
    }
    state.counters["frames"] = static_cast<double>(frames);
}

void BM_PlayWholeDecoded(benchmark::State& state) {
    playDecoded(state, nullptr, 0.0);
}

// A sustained note's envelope: 5 ms attack, a 1 s decay to -6 dB, held, and a
// 0.5 s release at the end.
void BM_PlayWholeDecodedEnvelope(benchmark::State& state) {
    const ox::audio::Envelope envelope{
        .attack = 0.005f, .decay = 1.0f, .sustain = 0.5f, .release = 0.5f};
    playDecoded(state, &envelope, envelope.release);
}

// The costliest shape: a note that decays all the way, 100 dB over its 10 s.
void BM_PlayWholeDecodedDecay(benchmark::State& state) {
    const ox::audio::Envelope envelope{.attack = 0.002f, .decay = 10.0f, .sustain = 0.0f};
    playDecoded(state, &envelope, 0.0);
}

void BM_SamplePlayerCached(benchmark::State& state) {
    const auto bank = openBank(benchBanks().audioBank());
    if (!bank) {
        state.SkipWithError("bank did not open");
        return;
    }
    // The first call loads the file into the library's cache; this player keeps it there.
    const auto keep = bank->samplePlayer(kAudioMidi);
    for (auto _ : state) {
        auto result = bank->samplePlayer(kAudioMidi);
        benchmark::DoNotOptimize(result.first.stream().get());
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_LibsndfileDecodeWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstNote)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstNoteBench10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlayWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayWholeDecoded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayWholeDecodedEnvelope)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayWholeDecodedDecay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SamplePlayerCached);
