#pragma once

// The machine's own bound for a cell update, measured in the same run as
// the kernels it judges: the arithmetic of one update (the multiply by the
// reciprocal, the floor, the multiply-subtract, the multiply and the
// multiply-add) on many independent vectors, so that no latency shows, with
// its constants in registers and no memory traffic. Each instruction set a
// kernel is built for has its bound: "portable" (the baseline vectors the
// compiler makes for any processor of the target), "avx2" (with FMA),
// "avx512" and "neon".

#include <benchmark/benchmark.h>

#include <string>

namespace boundmeter {

// The best of the bound's forms (a floor instruction, or rounding with two
// adds) and vector counts, in cell updates per second; 0 where this
// processor cannot run the instruction set, or this build has no meter for
// it. Measured once, at the first call for that instruction set.
double updatespersecond(const std::string& instructionset);

// The same, measured again now with the fastest form found at the first
// call: a bound beside the benchmark it judges.
double updatespersecondnow(const std::string& instructionset);

// The clock, in cycles per second, from a chain of dependent adds; 0 where
// this build cannot measure it.
double cyclespersecond();

// CPU time of this thread, from construction: a benchmark's timed loop
// measured alike with the bound.
class stopwatch {
public:
    stopwatch();
    double seconds() const;

private:
    double started;
};

// Sets the counters of a benchmark whose loop made `updates` cell updates
// per iteration in `seconds`, with a kernel of that instruction set (none
// for code that has no bound): cell_updates (a rate), of_bound (that rate
// over the bound measured again just after the loop) and
// cycles_per_update (at the clock measured at the start). With passcells,
// the spigot passes times cells those updates stood for (a pass by 10^k
// is k of them), also pass_cells, a rate that compares runs of any k.
void setcounters(benchmark::State& state, double updates, double seconds, const std::string& instructionset,
                 double passcells = 0.0);

// Benchmarks that show each bound this processor runs, as "bound/<set>",
// and the clock in the run's context.
void registerbounds();

}  // namespace boundmeter
