#include "boundmeter.h"

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "boundchains.h"

namespace boundmeter {

// Each instruction set's meters, from a file built for it.
std::vector<meter> portablemeters();
#if defined(BOUNDMETER_X86)
std::vector<meter> avx2meters();
std::vector<meter> avx512meters();
#endif
#if defined(__aarch64__)
std::vector<meter> neonmeters();
#endif

namespace {

// Every meter this build has, by instruction set; a set's bound is its
// fastest form.
const std::map<std::string, std::vector<meter>>& meters()
{
    static const std::map<std::string, std::vector<meter>> all = [] {
        std::map<std::string, std::vector<meter>> sets;
        sets["portable"] = portablemeters();
#if defined(BOUNDMETER_X86)
        // Only where the processor has them: building a table in a file
        // built for AVX-512 may itself use AVX-512 instructions.
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
            sets["avx2"] = avx2meters();
        }
        if (__builtin_cpu_supports("avx512f")) {
            sets["avx512"] = avx512meters();
        }
#endif
#if defined(__aarch64__)
        sets["neon"] = neonmeters();
        for (const meter& m : portablemeters()) {
            sets["neon"].push_back(m);
        }
#endif
        return sets;
    }();
    return all;
}

bool supported(const std::string& instructionset)
{
#if defined(BOUNDMETER_X86)
    if (instructionset == "avx2") {
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }
    if (instructionset == "avx512") {
        return __builtin_cpu_supports("avx512f");
    }
#endif
    return meters().count(instructionset) > 0;  // the baseline of this target
}

double threadseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Updates per second of the best of three runs of about 30 ms each.
double measure(const meter& m)
{
    std::int64_t iterations = 1 << 12;
    double best = 0.0;
    for (int run = 0; run < 3;) {
        const double start = threadseconds();
        benchmark::DoNotOptimize(m.run(iterations));
        const double seconds = threadseconds() - start;
        if (seconds < 0.02) {
            iterations *= 2;
            continue;
        }
        best = std::max(best, double(iterations) * m.chains * m.lanes / seconds);
        ++run;
    }
    return best;
}

// Each instruction set's fastest meter and what it measured, found once.
const std::pair<const meter*, double>& fastestmeter(const std::string& instructionset)
{
    static std::map<std::string, std::pair<const meter*, double>> found;
    const auto known = found.find(instructionset);
    if (known != found.end()) {
        return known->second;
    }
    std::pair<const meter*, double> best{nullptr, 0.0};
    const auto forms = meters().find(instructionset);
    if (forms != meters().end() && supported(instructionset)) {
        for (const meter& m : forms->second) {
            if (m.shape) {
                continue;
            }
            const double rate = measure(m);
            if (rate > best.second) {
                best = {&m, rate};
            }
        }
    }
    return found[instructionset] = best;
}

}  // namespace

double updatespersecond(const std::string& instructionset) { return fastestmeter(instructionset).second; }

double updatespersecondnow(const std::string& instructionset)
{
    const meter* fastest = fastestmeter(instructionset).first;
    return fastest == nullptr ? 0.0 : measure(*fastest);
}

double cyclespersecond()
{
    static const double measured = [] {
#if defined(__x86_64__) || defined(__aarch64__)
        // A chain of dependent adds, one a cycle on every processor of
        // these targets: 64 per iteration, the loop's own add beside them.
        double best = 0.0;
        for (int run = 0; run < 3; ++run) {
            constexpr std::int64_t iterations = 1 << 22;
            std::uint64_t value = 0;
            const double start = threadseconds();
            for (std::int64_t n = 0; n < iterations; ++n) {
#if defined(__x86_64__)
#define BOUNDMETER_ADD8 "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
#else
#define BOUNDMETER_ADD8 "add %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\t"
#endif
                __asm__ volatile(BOUNDMETER_ADD8 BOUNDMETER_ADD8 BOUNDMETER_ADD8 BOUNDMETER_ADD8
                                     BOUNDMETER_ADD8 BOUNDMETER_ADD8 BOUNDMETER_ADD8 BOUNDMETER_ADD8
                                 : "+r"(value));
            }
            best = std::max(best, 64.0 * iterations / (threadseconds() - start));
            benchmark::DoNotOptimize(value);
        }
        return best;
#else
        return 0.0;
#endif
    }();
    return measured;
}

stopwatch::stopwatch() : started(threadseconds()) {}

double stopwatch::seconds() const { return threadseconds() - started; }

void setcounters(benchmark::State& state, double updates, double seconds, const std::string& instructionset,
                 double passcells)
{
    state.counters["cell_updates"] = benchmark::Counter(updates, benchmark::Counter::kIsIterationInvariantRate);
    if (passcells > 0.0) {
        state.counters["pass_cells"] = benchmark::Counter(passcells, benchmark::Counter::kIsIterationInvariantRate);
    }
    const double rate = updates * double(state.iterations()) / seconds;
    // Measured again beside the benchmark, so that a clock that changed
    // since the start of the run moves both alike.
    const double bound = instructionset.empty() ? 0.0 : updatespersecondnow(instructionset);
    if (bound > 0.0) {
        state.counters["of_bound"] = rate / bound;
    }
    const double clock = cyclespersecond();
    if (clock > 0.0) {
        state.counters["cycles_per_update"] = clock / rate;
    }
}

void registerbounds()
{
    if (const double clock = cyclespersecond(); clock > 0.0) {
        benchmark::AddCustomContext("clock_ghz", std::to_string(clock * 1e-9));
    }
    for (const auto& [name, forms] : meters()) {
        if (!supported(name)) {
            continue;
        }
        const double bound = updatespersecond(name);
        benchmark::AddCustomContext("bound_" + name + "_gups", std::to_string(bound * 1e-9));
        for (const meter& m : forms) {
            const std::string label = "bound/" + name + "/" + m.form + "/" + std::to_string(m.chains);
            benchmark::RegisterBenchmark(label.c_str(), [m, name = name](benchmark::State& state) {
                const std::int64_t iterations = 1 << 14;
                const stopwatch watch;
                for (auto _ : state) {
                    benchmark::DoNotOptimize(m.run(iterations));
                }
                setcounters(state, double(iterations) * m.chains * m.lanes, watch.seconds(), name);
            });
        }
    }
}

}  // namespace boundmeter
