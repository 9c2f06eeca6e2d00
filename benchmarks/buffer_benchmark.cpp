// computepi with each kernel against the plain loop, in cell updates per
// second (the passes a kernel makes x cells, a pass by 10^k counting once),
// each kernel's as a fraction of the bound this processor sets for its
// instruction set (boundmeter.h), measured in the same run, and in pass
// cells per second (digits x cells), which compare runs of any k. Compare
// rates for one count within one run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "boundmeter.h"
#include "computepi.h"
#include "exactdivision.h"
#include "spigotbatch.h"
#include "kernels/kernels.h"
#include "plainloop.h"

namespace {

const std::vector<std::int64_t> counts = {1000, 5000, 8000, 20000};
// Runs fusing 9 passes in the vector kernels' division and 8 in the
// portable one's; too long for the plain loop.
const std::vector<std::int64_t> largecounts = {100000, 150000, 200000};

// Updates by passes of k at a time: whole batches of them.
void setcellrate(benchmark::State& state, std::int64_t ndigits, const boundmeter::stopwatch& watch,
                 const std::string& instructionset = "", std::int64_t fusedpasses = 1, std::int64_t batchpasses = 1)
{
    const std::int64_t passes = (ndigits + fusedpasses - 1) / fusedpasses;
    const std::int64_t made = (passes + batchpasses - 1) / batchpasses * batchpasses;
    const double cells = static_cast<double>(ndigits * 10 / 3);
    boundmeter::setcounters(state, static_cast<double>(made) * cells, watch.seconds(), instructionset,
                            static_cast<double>(ndigits) * cells);
    state.counters["fused_passes"] = static_cast<double>(fusedpasses);
}

void plainlooptime(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        benchmark::DoNotOptimize(plainloop::text(n, n));
    }
    setcellrate(state, n, watch);
}

void kernel(benchmark::State& state, const batchvariant* kernel)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2);
    const boundmeter::stopwatch watch;
    const batchplan plan = planwith(kernel, n * 10 / 3);
    for (auto _ : state) {
        computepiwith(&plan, n, buffer.data(), nullptr);
        benchmark::DoNotOptimize(buffer.data());
    }
    setcellrate(state, n, watch, kernel->instructionset, plan.fusedpasses, kernel->passes);
}

// A group of the plan's batches over the cells of N digits, as a run
// makes them: past a block in the blocked order, batch after batch below
// it. Each kernel's rate at the large counts against its rate at 20,000
// in the same run is what the cells outside the cache cost it.
const std::vector<std::int64_t> cellcounts = {20000, 1000000, 3377699};

void releasenothing(void*, int32_t) {}
const groupobserver nothingtold = {releasenothing, nullptr, nullptr};

// A group of the plan's batches over cellcount cells in blocks of
// blockcells (INT32_MAX: unblocked, each batch over all the cells in turn).
void rungroup(benchmark::State& state, const batchvariant* kernel, std::int32_t cellcount, std::int32_t blockcells)
{
    batchplan plan = planwith(kernel, cellcount);
    plan.blockcells = blockcells;
    struct spigotbatch batch;
    if (!openbatch(&batch, cellcount, kernel->tabled)) {
        state.SkipWithError("out of memory");
        return;
    }
    const std::vector<double> powers(kernel->passes, static_cast<double>(tenpower(plan.fusedpasses)));
    std::vector<batchrun> runs(plan.groupbatches);
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        for (batchrun& run : runs) {
            startbatchrun(&run, powers.data(), kernel->passes, fusedbias(kernel->form, plan.fusedpasses));
        }
        runblocked(kernel, &batch, runs.data(), plan.groupbatches, plan.blockcells, &nothingtold);
    }
    const double updates = static_cast<double>(plan.groupbatches) * kernel->passes * cellcount;
    boundmeter::setcounters(state, updates, watch.seconds(), kernel->instructionset, updates * plan.fusedpasses);
    state.counters["fused_passes"] = static_cast<double>(plan.fusedpasses);
    closebatch(&batch);
}

// unblocked: each batch of the group over all the cells in turn, as
// before the blocked order, to compare.
void kernelcells(benchmark::State& state, const batchvariant* kernel, bool unblocked)
{
    const std::int32_t cellcount = static_cast<std::int32_t>(state.range(0)) * 10 / 3;
    rungroup(state, kernel, cellcount, unblocked ? INT32_MAX : planwith(kernel, cellcount).blockcells);
}

// The first group of a run of N digits, as the program runs it: the plan's
// group and block (sized from this processor's cache), the batches
// started, the digits released, progress told after every block (the
// clock read, as for a progress line on a terminal). Against the same at
// 20,000 digits, in cache, it is what the large counts lose in the
// program's own grouping, where a whole run is too long to repeat.
void readtheclock(void* context, int32_t)
{
    *static_cast<std::chrono::steady_clock::time_point*>(context) = std::chrono::steady_clock::now();
}

void kernelprogram(benchmark::State& state, const batchvariant* kernel)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const std::int32_t cellcount = n * 10 / 3;
    const batchplan plan = planwith(kernel, cellcount);
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2);
    std::chrono::steady_clock::time_point told;
    const passobserver observer = {readtheclock, &told};
    const boundmeter::stopwatch watch;
    for (auto _ : state) {
        if (computepigroups(&plan, n, buffer.data(), &observer, 1) != computepi_ok) {
            state.SkipWithError("out of memory");
            return;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    const double updates = static_cast<double>(groupedbatches(&plan, cellcount)) * kernel->passes * cellcount;
    boundmeter::setcounters(state, updates, watch.seconds(), kernel->instructionset, updates * plan.fusedpasses);
    state.counters["fused_passes"] = static_cast<double>(plan.fusedpasses);
    state.counters["block_cells"] = static_cast<double>(plan.blockcells);
}

// A group over the cells of 1,000,000 digits in blocks of KiB (the
// argument) of cells: from an eighth of this processor's second-level
// cache to all of it, to tell whether the block the plans take fits.
void kernelblocks(benchmark::State& state, const batchvariant* kernel)
{
    rungroup(state, kernel, 1000000 * 10 / 3, static_cast<std::int32_t>(state.range(0) * 1024 / 4));
}

// Eighths of the second-level cache to all of it, in KiB (1 MiB where the
// system does not tell).
std::vector<std::int64_t> cacheblocks()
{
    const long reported = secondlevelcachebytes();
    const long cache = reported > 0 ? reported : 1L << 20;
    return {cache / 8 / 1024, cache / 4 / 1024, cache / 2 / 1024, cache / 1024};
}

}  // namespace

int main(int argc, char** argv)
{
    boundmeter::registerbounds();
    // What dispatch runs here, and what it runs on each family the table
    // knows (AMD's Zen families beside Intel's family 6).
    benchmark::AddCustomContext("chosen_kernel", fastestbatchplan(0).kernel->name);
    benchmark::AddCustomContext("l2_cache_bytes", std::to_string(secondlevelcachebytes()));
    benchmark::AddCustomContext("block_cells", std::to_string(fastestbatchplan(0).blockcells));
    for (const auto& [vendor, intel, family] : {std::tuple{"intel", 1, 6}, std::tuple{"amd", 0, 23},
                                                std::tuple{"amd", 0, 25}, std::tuple{"amd", 0, 26}}) {
        benchmark::AddCustomContext("family_" + std::string(vendor) + "_" + std::to_string(family) + "_avx2",
                                    kernelforfamily("avx2", intel, family)->name);
    }
    benchmark::RegisterBenchmark("plainloop", plainlooptime)
        ->ArgsProduct({counts})
        ->Unit(benchmark::kMillisecond);
    for (int32_t i = 0; i < batchvariantcount; ++i) {
        if (batchvariants[i]->supported()) {
            auto* registered = benchmark::RegisterBenchmark(batchvariants[i]->name, kernel, batchvariants[i])
                                   ->ArgsProduct({counts})
                                   ->Unit(benchmark::kMillisecond);
            if (i > 0) {
                registered->ArgsProduct({largecounts});
            }
            benchmark::RegisterBenchmark((std::string("cells/") + batchvariants[i]->name).c_str(), kernelcells,
                                         batchvariants[i], false)
                ->ArgsProduct({cellcounts})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("unblocked/") + batchvariants[i]->name).c_str(), kernelcells,
                                         batchvariants[i], true)
                ->ArgsProduct({{cellcounts[1], cellcounts[2]}})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("program/") + batchvariants[i]->name).c_str(), kernelprogram,
                                         batchvariants[i])
                ->ArgsProduct({cellcounts})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("blocks/") + batchvariants[i]->name).c_str(), kernelblocks,
                                         batchvariants[i])
                ->ArgsProduct({cacheblocks()})
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
