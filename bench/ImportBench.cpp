// Importing a soundfont: every preset of a generated General MIDI-like font
// (the demo soundfont with 128 melodic programs and a drum kit) into directory
// banks, each written, checked through the library's search and renamed into
// place. The target, every preset of a 4 MB General MIDI soundfont in under
// 5 s, is scaled to the font's size.
#include "BenchBanks.h"

#include <demo/SoundFontWriter.h>
#include <ox/import/Import.h>

#include <benchmark/benchmark.h>

#include <QtGlobal>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr int kPrograms = 128;

/// The generated font, written beside the other benchmark banks once.
const std::string& fontPath() {
    static const std::string path = [] {
        const std::string file = oxsf::bench::benchBanks().root + "/demo-gm.sf2";
        if (!fs::exists(file)) {
            const std::string bytes = oxsf::demo::sf2Bytes(oxsf::demo::demoSoundFont(kPrograms));
            std::ofstream(file, std::ios::binary)
                .write(bytes.data(), std::streamsize(bytes.size()));
        }
        return file;
    }();
    return path;
}

void BM_ImportSoundFont(benchmark::State& state) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const std::string font = fontPath();
    const std::string out = oxsf::bench::benchBanks().root + "/import-out";
    size_t banks = 0;
    for (auto _ : state) {
        banks = ox::import::importSource(font, out).banks.size();
        state.PauseTiming();
        fs::remove_all(out);
        state.ResumeTiming();
    }
    state.counters["presets"] = double(banks);
    state.counters["megabytes"] = double(fs::file_size(font)) / 1e6;
}
BENCHMARK(BM_ImportSoundFont)->Unit(benchmark::kMillisecond);

} // namespace
