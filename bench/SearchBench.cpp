// findSampleByMidi runs for every note the host plays, possibly on its audio
// thread: it must be fast and never touch the heap. This binary counts every
// allocation through replaced global allocation functions.
#include "BenchBanks.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFontManager.h>

#include <benchmark/benchmark.h>

#include <QtGlobal>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace oxsf::bench;
using ox::soundfont::SampleTreeNode;
using ox::soundfont::SoundFontManager;

namespace {

void searchBank(benchmark::State& state, const std::function<std::string()>& path) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    SoundFontManager manager;
    const auto bank = manager.addDirectory(path());
    if (!bank) {
        state.SkipWithError("bank did not open");
        return;
    }
    const ox::soundfont::SampleTree& tree = bank->sampleTree();
    // The node a bare MIDI request addresses: the first attack, technique and
    // variation of the layout.
    const SampleTreeNode* addressed = tree.root()->child(0, 0, 0);
    int midi = 40;
    long found = 0;
    const long before = allocations.load();
    for (auto _ : state) {
        found += tree.findSampleByMidi(midi, 10) != nullptr;
        midi = midi == 90 ? 40 : midi + 1;
    }
    const long allocated = allocations.load() - before;
    if (found != static_cast<long>(state.iterations())) {
        state.SkipWithError("a query found nothing");
    }
    state.counters["allocs_per_query"] =
        static_cast<double>(allocated) / static_cast<double>(state.iterations());
    state.counters["node_samples"] = addressed ? addressed->sampleCount() : 0;
    state.counters["bank_samples"] = tree.sampleCount();
    state.SetItemsProcessed(state.iterations());
}

void BM_FindSampleByMidi(benchmark::State& state, int samples) {
    searchBank(state, [samples] { return benchBanks().directoryBank(samples); });
}

void BM_FindSampleByMidiDemo(benchmark::State& state, bool drums) {
    searchBank(state,
               [drums] { return drums ? benchBanks().demoDrums() : benchBanks().demoGuitar(); });
}

} // namespace

BENCHMARK_CAPTURE(BM_FindSampleByMidi, Bench1000, 1000);
BENCHMARK_CAPTURE(BM_FindSampleByMidi, Bench10000, 10000);
BENCHMARK_CAPTURE(BM_FindSampleByMidi, Bench50000, 50000);
BENCHMARK_CAPTURE(BM_FindSampleByMidiDemo, DemoGuitar, false);
BENCHMARK_CAPTURE(BM_FindSampleByMidiDemo, DemoDrums, true);
