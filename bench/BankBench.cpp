// Opening a bank costs reading and parsing its description; its first
// sampleTree() costs filing every sample. Both are measured against the same
// description read into memory and parsed by rapidxml alone, in the same run.
#include "BenchBanks.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>

#include <benchmark/benchmark.h>
#include <rapidxml/rapidxml.hpp>

#include <ox/stream/MemoryStream.h>

#include <QtGlobal>

#include <cstring>
#include <memory>

using namespace oxsf::bench;
using ox::soundfont::SoundFontManager;
using ox::soundfont::SoundFontV6;

namespace {

// The manager logs one line per bank; a host routes it, the benchmark drops it.
void quietLog() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

int samplesOf(const benchmark::State& state) {
    return static_cast<int>(state.range(0));
}

std::string descriptionPath(const benchmark::State& state) {
    return benchBanks().directoryBank(samplesOf(state)) + "/Samples.xml";
}

// The description's bytes without the terminating zero that readFile adds: a
// bank appends its own.
std::vector<char> descriptionBytes(const benchmark::State& state) {
    std::vector<char> bytes = readFile(descriptionPath(state));
    bytes.pop_back();
    return bytes;
}

void BM_ReadAndParse(benchmark::State& state) {
    const std::string path = descriptionPath(state);
    for (auto _ : state) {
        std::vector<char> text = readFile(path);
        rapidxml::xml_document<char> document;
        document.parse<0>(text.data());
        benchmark::DoNotOptimize(document.first_node());
    }
    state.counters["samples"] = samplesOf(state);
}

// Where the time of opening goes, without the file system: the same text
// copied from memory and parsed, then read into a bank's records.
void BM_ParseFromMemory(benchmark::State& state) {
    const std::vector<char> file = readFile(descriptionPath(state));
    for (auto _ : state) {
        std::vector<char> text(file.size());
        std::memcpy(text.data(), file.data(), file.size());
        rapidxml::xml_document<char> document;
        document.parse<0>(text.data());
        benchmark::DoNotOptimize(document.first_node());
    }
    state.counters["samples"] = samplesOf(state);
}

class MemoryBank final : public ox::soundfont::SoundFont {
public:
    explicit MemoryBank(const std::vector<char>& text) : m_text(text) {}
    std::shared_ptr<ox::stream::IStream> sampleXML() const override {
        return std::make_shared<ox::stream::MemoryStream>(m_text, "Samples.xml");
    }
    std::shared_ptr<ox::stream::IStream> sample(const std::string&) const override { return {}; }
    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string&) const override {
        return {};
    }

private:
    const std::vector<char>& m_text;
};

// The least any reader can spend on the records themselves: copying an
// opened bank's layer allocates and fills the same strings and vectors,
// with no document to read them from.
void BM_CopyRecords(benchmark::State& state) {
    const std::vector<char> file = descriptionBytes(state);
    MemoryBank bank(file);
    bank.initialize();
    for (auto _ : state) {
        auto copy = std::make_unique<ox::soundfont::Layer>(bank.layer());
        benchmark::DoNotOptimize(copy.get());
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
    state.counters["samples"] = samplesOf(state);
}

void BM_InitializeFromMemory(benchmark::State& state) {
    const std::vector<char> file = descriptionBytes(state);
    for (auto _ : state) {
        auto bank = std::make_unique<MemoryBank>(file);
        bank->initialize();
        state.PauseTiming();
        bank.reset();
        state.ResumeTiming();
    }
    state.counters["samples"] = samplesOf(state);
}

// Each iteration opens a fresh bank; releasing it is not part of opening.
void openBank(benchmark::State& state, const std::string& path) {
    quietLog();
    for (auto _ : state) {
        auto manager = std::make_unique<SoundFontManager>();
        auto bank = manager->addDirectory(path);
        benchmark::DoNotOptimize(bank.get());
        state.PauseTiming();
        if (!bank || bank->layer().layers.empty()) {
            state.SkipWithError("bank did not open");
        }
        bank.reset();
        manager.reset();
        state.ResumeTiming();
    }
    state.counters["samples"] = samplesOf(state);
}

void BM_OpenDirectory(benchmark::State& state) {
    openBank(state, benchBanks().directoryBank(samplesOf(state)));
}

void BM_OpenArchive(benchmark::State& state) {
    openBank(state, benchBanks().archiveBank(samplesOf(state)));
}

// The archive's share of opening: mapping the file and reading its index.
void BM_IndexArchive(benchmark::State& state) {
    const std::string path = benchBanks().archiveBank(samplesOf(state));
    for (auto _ : state) {
        auto bank = std::make_unique<ox::soundfont::SoundFontV7>(path);
        benchmark::DoNotOptimize(bank.get());
        state.PauseTiming();
        bank.reset();
        state.ResumeTiming();
    }
    state.counters["samples"] = samplesOf(state);
}

// The pass that measures nesting and counts elements before every parse.
void BM_CheckLimits(benchmark::State& state) {
    const std::vector<char> text = readFile(descriptionPath(state));
    for (auto _ : state) {
        ox::soundfont::checkDescriptionLimits(text.data());
    }
    state.counters["samples"] = samplesOf(state);
}

void BM_FirstSampleTree(benchmark::State& state) {
    const std::string path = benchBanks().directoryBank(samplesOf(state));
    for (auto _ : state) {
        state.PauseTiming();
        auto bank = std::make_unique<SoundFontV6>(path);
        bank->initialize();
        state.ResumeTiming();
        const int count = bank->sampleTree().sampleCount();
        state.PauseTiming();
        if (count != samplesOf(state)) {
            state.SkipWithError("tree lost samples");
        }
        bank.reset();
        state.ResumeTiming();
    }
    state.counters["samples"] = samplesOf(state);
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int samples : descriptionSizes()) {
        b->Arg(samples);
    }
    b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_ReadAndParse)->Apply(sizes);
BENCHMARK(BM_OpenDirectory)->Apply(sizes);
BENCHMARK(BM_OpenArchive)->Apply(sizes);
BENCHMARK(BM_FirstSampleTree)->Apply(sizes);
BENCHMARK(BM_ParseFromMemory)->Apply(sizes);
BENCHMARK(BM_InitializeFromMemory)->Apply(sizes);
BENCHMARK(BM_CopyRecords)->Apply(sizes);
BENCHMARK(BM_IndexArchive)->Apply(sizes);
BENCHMARK(BM_CheckLimits)->Apply(sizes);
