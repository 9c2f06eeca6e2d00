// The generator's text with each batch variant, and through pidigits (the
// variant the processor gets), against the one-pass spigot it replaced
// (one ldiv per cell) and the plain loop; each variant's rate also as a
// fraction of the bound this processor sets for its instruction set
// (boundmeter.h), measured in the same run. Read the ratios of the times
// for one count, measured side by side in one run.
#include <benchmark/benchmark.h>

#include <chrono>

#include <string>

#include "boundmeter.h"
#include "onepassspigot.h"
#include "pidigits.h"
#include "plainloop.h"
#include "spigot.h"

namespace {

// Updates by the passes a spigot runs for the N + 1 characters, in the
// seconds the timed loop took; pass cells are digits x cells, which
// compare runs of any k.
void setcellrate(benchmark::State& state, std::int64_t ndigits, double seconds,
                 const std::string& instructionset = "", std::int64_t fusedpasses = 1, std::int64_t passes = 0)
{
    const double cells = static_cast<double>(ndigits * 10 / 3);
    boundmeter::setcounters(state, static_cast<double>(instructionset.empty() ? ndigits : passes) * cells, seconds,
                            instructionset, static_cast<double>(ndigits) * cells);
    state.counters["fused_passes"] = static_cast<double>(fusedpasses);
}

// Takes a generator by reference, temporaries too.
template <typename generatortype>
std::string poll(generatortype&& digits, std::int32_t ndigits)
{
    std::string text(static_cast<std::size_t>(ndigits) + 1, '\0');
    for (char& c : text) {
        c = digits.nextdigit();
    }
    return text;
}

// The passes a spigot by the plan runs for N + 1 characters.
std::int64_t passesrun(const generator::batchplan& plan, std::int32_t ndigits)
{
    generator::spigot digits(ndigits, plan);
    poll(digits, ndigits);
    return digits.digitsrun() / plan.fusedpasses;
}

void pidigits(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator::pidigits(n));
    }
    // The loop's time, before counting the passes runs a spigot more.
    const double seconds = watch.seconds();
    const generator::batchplan plan = generator::fastestbatchplan(n * 10 / 3);
    setcellrate(state, n, seconds, plan.variant->instructionset, plan.fusedpasses, passesrun(plan, n));
}

void variant(benchmark::State& state, const generator::batchvariant* variant)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(poll(generator::spigot(n, *variant), n));
    }
    const double seconds = watch.seconds();
    const generator::batchplan plan = generator::planwith(*variant, n * 10 / 3);
    setcellrate(state, n, seconds, variant->instructionset, plan.fusedpasses, passesrun(plan, n));
}

void onepassloop(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(poll(onepass::spigot(n), n));
    }
    setcellrate(state, n, watch.seconds());
}

void plainlooptime(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(plainloop::lazytext(n));
    }
    setcellrate(state, n, watch.seconds());
}

// A group of the plan's batches over the cells of N digits, as a spigot
// runs them: past a block in the blocked order, batch after batch below
// it. Each variant's rate at the large counts against its rate at 20,000
// in the same run is what the cells outside the cache cost it.
// unblocked: each batch of the group over all the cells in turn, as
// before the blocked order, to compare.
void variantcells(benchmark::State& state, const generator::batchvariant* variant, bool unblocked)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const std::int32_t cellcount = n * 10 / 3;
    generator::batchplan plan = generator::planwith(*variant, cellcount);
    generator::spigotbatch cells(cellcount, variant->tabled);
    cells.start();
    // Below a block the plan runs one batch a group: a group's worth, one
    // after the other.
    const std::int32_t groups = unblocked ? plan.groupbatches : plan.groupbatches / plan.batchesingroup(cellcount);
    plan.groupbatches = unblocked ? 1 : plan.groupbatches;
    std::vector<std::int8_t> digits(static_cast<std::size_t>(generator::mostgroupbatches) * generator::batchpasses *
                                    generator::fused::mostpasses);
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        for (std::int32_t g = 0; g < groups; ++g) {
            generator::runbatches(plan, cells, digits.data());
        }
        benchmark::DoNotOptimize(digits.data());
    }
    const double updates = static_cast<double>(groups) * plan.batchesingroup(cellcount) * variant->passes * cellcount;
    boundmeter::setcounters(state, updates, watch.seconds(), variant->instructionset, updates * plan.fusedpasses);
    state.counters["fused_passes"] = static_cast<double>(plan.fusedpasses);
}

// The first group of a run of N digits, as the program runs it: a spigot
// by the plan (its block sized from this processor's cache) makes its
// cells and, asked for its first character, runs the group and takes its
// digits, telling its work after every block (the clock read, as for a
// progress line on a terminal). Against the same at 20,000 digits, in
// cache, it is what the large counts lose in the program's own grouping,
// where a whole run is too long to repeat.
void variantprogram(benchmark::State& state, const generator::batchvariant* variant)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const std::int32_t cellcount = n * 10 / 3;
    const generator::batchplan plan = generator::planwith(*variant, cellcount);
    std::chrono::steady_clock::time_point told;
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        generator::spigot digits(n, plan);
        digits.tellwork([&told](std::int64_t) { told = std::chrono::steady_clock::now(); });
        benchmark::DoNotOptimize(digits.nextdigit());
    }
    const double updates = static_cast<double>(plan.batchesingroup(cellcount)) * variant->passes * cellcount;
    boundmeter::setcounters(state, updates, watch.seconds(), variant->instructionset, updates * plan.fusedpasses);
    state.counters["fused_passes"] = static_cast<double>(plan.fusedpasses);
    state.counters["block_cells"] = static_cast<double>(plan.blockcells);
}

// A group over the cells of 1,000,000 digits in blocks of KiB (the
// argument) of cells: from an eighth of this processor's second-level
// cache to all of it, to tell whether the block the plans take fits.
void variantblocks(benchmark::State& state, const generator::batchvariant* variant)
{
    const std::int32_t cellcount = 1000000 * 10 / 3;
    generator::batchplan plan = generator::planwith(*variant, cellcount);
    plan.blockcells = static_cast<std::int32_t>(state.range(0) * 1024 / 4);
    generator::spigotbatch cells(cellcount, variant->tabled);
    cells.start();
    std::vector<std::int8_t> digits(static_cast<std::size_t>(generator::mostgroupbatches) * generator::batchpasses *
                                    generator::fused::mostpasses);
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        generator::runbatches(plan, cells, digits.data());
        benchmark::DoNotOptimize(digits.data());
    }
    const double updates = static_cast<double>(plan.groupbatches) * variant->passes * cellcount;
    boundmeter::setcounters(state, updates, watch.seconds(), variant->instructionset, updates * plan.fusedpasses);
}

// Eighths of the second-level cache to all of it, in KiB (1 MiB where the
// system does not tell).
std::vector<std::int64_t> cacheblocks()
{
    const long reported = generator::secondlevelcachebytes();
    const long cache = reported > 0 ? reported : 1L << 20;
    return {cache / 8 / 1024, cache / 4 / 1024, cache / 2 / 1024, cache / 1024};
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::AddCustomContext("chosen_kernel", generator::fastestbatchplan(0).variant->name);
    benchmark::AddCustomContext("l2_cache_bytes", std::to_string(generator::secondlevelcachebytes()));
    benchmark::AddCustomContext("block_cells", std::to_string(generator::fastestbatchplan(0).blockcells));
    boundmeter::registerbounds();
    benchmark::RegisterBenchmark("onepass", onepassloop)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("plainloop", plainlooptime)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("pidigits", pidigits)->Arg(1000)->Arg(8000)->Arg(20000)->Unit(benchmark::kMillisecond);
    for (const generator::batchvariant& each : generator::batchvariants()) {
        if (each.supported()) {
            // The counts the buffer's kernels run, to compare the two.
            benchmark::RegisterBenchmark(each.name, variant, &each)
                ->ArgsProduct({{1000, 5000, 8000, 20000, 100000, 150000, 200000}})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("cells/") + each.name).c_str(), variantcells, &each, false)
                ->ArgsProduct({{20000, 1000000, 3377699}})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("unblocked/") + each.name).c_str(), variantcells, &each, true)
                ->ArgsProduct({{1000000, 3377699}})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("program/") + each.name).c_str(), variantprogram, &each)
                ->ArgsProduct({{20000, 1000000, 3377699}})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("blocks/") + each.name).c_str(), variantblocks, &each)
                ->ArgsProduct({cacheblocks()})
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
