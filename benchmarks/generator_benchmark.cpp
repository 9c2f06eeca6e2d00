// pidigits against the plain loop over the same passes. Read the ratio of
// the two times for one count, measured side by side in one run.
#include <benchmark/benchmark.h>

#include "pidigits.h"
#include "plainspigot.h"

namespace {

void setcellrate(benchmark::State& state, std::int64_t ndigits)
{
    const double cellupdates = static_cast<double>(ndigits) * static_cast<double>(ndigits * 10 / 3);
    state.counters["cell_updates"] = benchmark::Counter(
        cellupdates, benchmark::Counter::kIsIterationInvariantRate);
}

void pidigits(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator::pidigits(n));
    }
    setcellrate(state, n);
}

void plainloop(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(testsupport::plainspigotlazy(n));
    }
    setcellrate(state, n);
}

}  // namespace

BENCHMARK(pidigits)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);
BENCHMARK(plainloop)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
