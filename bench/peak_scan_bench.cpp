// How fast the worker measures one captured buffer.
#include "engine/peak_meter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

void scan(benchmark::State& state, unsigned selector) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(0)));
    std::mt19937 random(42);
    for (auto& b : buffer)
        b = static_cast<std::uint8_t>(random());
    for (auto _ : state) {
        auto peaks = kelvo::engine::measurePeaks(selector, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(peaks);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Stereo16(benchmark::State& state) {
    scan(state, 2);
}
void Mono8(benchmark::State& state) {
    scan(state, 1);
}

} // namespace

// 50 ms buffers at 44.1 kHz (8820 and 2205 bytes), and one large block.
BENCHMARK(Stereo16)->Arg(8820)->Arg(1 << 20);
BENCHMARK(Mono8)->Arg(2205)->Arg(1 << 20);
BENCHMARK_MAIN();
