// distance() runs once per candidate sample in every search; uniqueId() keys
// coordinates. Both must stay cheap and allocation-free.
#include <soundfont/SampleCoordinate.h>

#include <benchmark/benchmark.h>

#include <vector>

using ox::soundfont::SampleCoordinate;

namespace {

// A spread of candidates like a six-string bank: strings 0..5, frets 0..19.
std::vector<SampleCoordinate> candidates(bool withStrings) {
    static const int openPitches[6] = {40, 45, 50, 55, 59, 64};
    std::vector<SampleCoordinate> all;
    for (int string = 0; string < 6; ++string) {
        for (int fret = 0; fret < 20; ++fret) {
            SampleCoordinate c;
            c[0] = withStrings ? string : -1;
            c[1] = openPitches[string] + fret;
            c[2] = 4 + (fret % 9);
            c[4] = withStrings ? fret : -1;
            all.push_back(c);
        }
    }
    return all;
}

void runDistance(benchmark::State& state, bool withStrings) {
    const std::vector<SampleCoordinate> all = candidates(withStrings);
    SampleCoordinate request;
    request[0] = withStrings ? 2 : -1;
    request[1] = 57;
    request[2] = 10;
    request[4] = withStrings ? 7 : -1;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(request.distance(all[i]));
        i = i + 1 == all.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_DistanceWithStringTerm(benchmark::State& state) {
    runDistance(state, true);
}
void BM_DistanceWithoutStringTerm(benchmark::State& state) {
    runDistance(state, false);
}

void BM_UniqueId(benchmark::State& state) {
    SampleCoordinate c;
    c.initialize(0, 1, 2);
    c[0] = 3;
    c[1] = 62;
    c[4] = 7;
    c.setPickup("bridge");
    for (auto _ : state) {
        benchmark::DoNotOptimize(c);
        benchmark::DoNotOptimize(c.uniqueId());
    }
}

} // namespace

BENCHMARK(BM_DistanceWithStringTerm);
BENCHMARK(BM_DistanceWithoutStringTerm);
BENCHMARK(BM_UniqueId);
