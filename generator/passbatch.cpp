#include "passbatch.h"

#include <unistd.h>  // sysconf

#include <algorithm>
#include <array>
#include <fstream>
#include <string>
#include <utility>

#if defined(GENERATOR_X86_VARIANTS)
#include <cpuid.h>
#endif

#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// The vector variants, each in its own file built for its instruction set
// (the build defines which exist).
#include "variants/variants.h"

namespace generator {

namespace {

// For cells 0 to count - 1, rounded once; 1 in the padding.
std::shared_ptr<const std::vector<double>> reciprocaltable(std::int32_t count)
{
    auto table = std::make_shared<std::vector<double>>(static_cast<std::size_t>(count + 2 * batchpadding), 1.0);
    for (std::int32_t j = 0; j < count; ++j) {
        (*table)[static_cast<std::size_t>(batchpadding + j)] = 1.0 / (2.0 * j + 1.0);
    }
    return table;
}

}  // namespace

namespace {

constexpr std::size_t hugepage = std::size_t{2} << 20;

// Whether the cells take huge pages: at 2 MB and more.
bool onhugepages(std::size_t bytes) { return bytes >= hugepage; }

}  // namespace

template <typename value>
value* cellallocator<value>::allocate(std::size_t count)
{
    const std::size_t bytes = count * sizeof(value);
    if (!onhugepages(bytes)) {
        return static_cast<value*>(::operator new(bytes));
    }
    const std::size_t whole = (bytes + hugepage - 1) / hugepage * hugepage;
    void* const block = ::operator new(whole, std::align_val_t{hugepage});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only advice: without huge pages the cells are as good.
    static_cast<void>(madvise(block, whole, MADV_HUGEPAGE));
#endif
    return static_cast<value*>(block);
}

template <typename value>
void cellallocator<value>::deallocate(value* cells, std::size_t count) noexcept
{
    if (onhugepages(count * sizeof(value))) {
        ::operator delete(cells, std::align_val_t{hugepage});
    } else {
        ::operator delete(cells);
    }
}

template struct cellallocator<std::int32_t>;

spigotbatch::spigotbatch(std::int32_t cellcount, bool tabled)
    : cellcount(cellcount), table(tabled ? reciprocaltable(cellcount) : nullptr)
{
}

void spigotbatch::start()
{
    if (padded.empty()) {
        // One sweep over the memory: at the largest count making the cells
        // takes longer than a batch.
        padded.assign(static_cast<std::size_t>(cellcount + 2 * batchpadding), 2);
        std::fill_n(padded.begin(), batchpadding, 0);
        std::fill_n(padded.end() - batchpadding, batchpadding, 0);
    }
}

namespace {

// One step of a batch: pass k, for first <= k < last, works on cell
// bottom + k, at cells[k].
[[gnu::always_inline]] inline void step(double* __restrict cells, const double* __restrict reciprocals,
                                        std::int32_t bottom, double* carry, const double* lane, std::int32_t first,
                                        std::int32_t last, const fusedpass& pass)
{
    const double base = bottom + 1;  // cell j's multiplier is j + 1
    for (std::int32_t k = first; k < last; ++k) {
        const double multiplier = base + lane[k];
        const double divisor = multiplier + multiplier - 1.0;
        const double x = pass.power * cells[k] + carry[k] * multiplier;
        const double q = exactdivide(x, reciprocals[k], pass.bias);
        cells[k] = x - q * divisor;
        carry[k] = q;
    }
}

// Cell 0 (divisor 1) handed each pass all of 10^k * A[1] + carry and kept
// 0; the spigot keeps the units in A[1] instead, for the next pass, and
// the rest is the value of the pass's k raw digits, sum of d_i 10^(k-i),
// at most 11 10^(k-1) - 1.
//
// The release depends only on that value: the characters it has written,
// its predigit and its held nines as 9s spell the sum of the raw digits so
// far, the predigit never 9, so what it writes and holds follows from the
// sum and the count of digits, whichever digits made the sum up. So the
// value is split into any k digits of 0 to 10 worth as much: its decimal
// digits, the first taking what exceeds 9.
[[gnu::always_inline]] inline void takedigits(spigotbatch& state, const double* carry, std::int32_t passes,
                                              std::int32_t fusedpasses, std::int8_t* digits)
{
    const std::int64_t power = fused::power(fusedpasses);
    std::int64_t q = 0;
    for (std::int32_t p = 0; p < passes; ++p) {
        q = power * (q % 10) + static_cast<std::int64_t>(carry[p]);
        std::int64_t value = q / 10;
        std::int8_t* const passdigits = digits + p * fusedpasses;
        for (std::int32_t i = fusedpasses - 1; i > 0; --i, value /= 10) {
            passdigits[i] = static_cast<std::int8_t>(value % 10);
        }
        passdigits[0] = static_cast<std::int8_t>(value);
    }
    if (state.cellcount > 0) {
        state.cells()[0] = static_cast<std::int32_t>(q % 10);
    }
}

// The portable batch, plain loops the compiler vectorizes as it can. Its
// rate hardly depends on how many passes a batch runs (32, 64 and 256 ran
// alike): the fewest keep a batch at the largest count under a second.
// Pass k works directly on a window of cells widened to doubles, a chunk
// of steps and the cells they touch, narrowed again after it: every cell
// a pass leaves behind is a remainder, so the cells still in flight at a
// window's end keep in 32 bits as well.
constexpr std::int32_t portablepasses = 32;
// Steps per window: the conversions of the P - 1 cells two windows share
// are an eighth of the window's.
constexpr std::int32_t windowsteps = 256;

void advanceportable(spigotbatch& state, batchrun& run, std::int32_t lowest, const fusedpass& pass)
{
    double* const carry = run.inflight.data();
    const std::int32_t cellcount = state.cellcount;
    if (!run.started) {
        run.bottom = cellcount - 1;
        if (run.bottom < lowest) {
            return;
        }
        std::fill_n(carry, portablepasses, 0.0);
        run.stepsleft = cellcount + portablepasses - 1;
        run.started = true;
    }
    std::array<double, portablepasses> lane{};
    for (std::int32_t k = 0; k < portablepasses; ++k) {
        lane[k] = k;
    }
    std::array<double, windowsteps + portablepasses - 1> window;
    // The step at bottom reads and writes cells bottom to bottom + P - 1.
    while (run.stepsleft > 0 && run.bottom >= lowest) {
        const std::int64_t allowed = std::int64_t{run.bottom} - lowest + 1;
        const auto steps = static_cast<std::int32_t>(std::min<std::int64_t>({windowsteps, run.stepsleft, allowed}));
        const std::int32_t low = run.bottom - steps + 1;
        std::int32_t* const cells = state.cells() + low;
        std::copy_n(cells, steps + portablepasses - 1, window.begin());
        for (std::int32_t m = steps - 1; m >= 0; --m) {
            // Pass k works on cell bottom + k while that is a cell: above
            // the top it has not started (its carry is still 0), below cell
            // 0 it is done. In between, every pass has a cell, and the
            // step's bounds are fixed.
            const std::int32_t bottom = low + m;
            double* const at = window.data() + m;
            const double* const reciprocals = state.reciprocals() + bottom;
            if (bottom >= 0 && bottom <= cellcount - portablepasses) {
                step(at, reciprocals, bottom, carry, lane.data(), 0, portablepasses, pass);
            } else {
                step(at, reciprocals, bottom, carry, lane.data(), std::max(0, -bottom),
                     std::min(portablepasses, cellcount - bottom), pass);
            }
        }
        for (std::int32_t m = 0; m < steps + portablepasses - 1; ++m) {
            cells[m] = static_cast<std::int32_t>(window[m]);
        }
        run.bottom -= steps;
        run.stepsleft -= steps;
    }
    if (run.stepsleft == 0) {
        std::copy_n(carry, portablepasses, run.carries.begin());
        run.done = true;
    }
}

bool always() { return true; }

void divideportable(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    for (std::int32_t i = 0; i < count; ++i) {
        quotients[i] = exactdivide(x[i], reciprocals[i], bias);
    }
}

#if defined(GENERATOR_X86_VARIANTS) || defined(GENERATOR_NEON_VARIANT)
// A vector variant's batch over the cells (variants/).
template <variants::batch advancebatch>
void advancevectors(spigotbatch& state, batchrun& run, std::int32_t lowest, const fusedpass& pass)
{
    advancebatch({state.cells(), state.reciprocals(), state.cellcount}, run, lowest, pass);
}
#endif

#if defined(GENERATOR_X86_VARIANTS)
bool avx2supported() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }
bool avx512supported() { return __builtin_cpu_supports("avx512f"); }
#endif

}  // namespace

const std::vector<batchvariant>& batchvariants()
{
    [[maybe_unused]] constexpr fused::form withfma = fused::form::fused;
    static const std::vector<batchvariant> variants = {
        {"portable", "portable", fused::form::tworoundings, true, always, portablepasses, advanceportable,
         divideportable},
#if defined(GENERATOR_X86_VARIANTS)
        {"avx2", "avx2", withfma, false, avx2supported, variants::avx2passes, advancevectors<variants::advanceavx2>,
         variants::divideavx2},
        {"avx2rounddown", "avx2", fused::form::rounddown, false, avx2supported, variants::avx2passes,
         advancevectors<variants::advanceavx2rounddown>, variants::divideavx2rounddown},
        {"avx512", "avx512", fused::form::rounddown, false, avx512supported, variants::avx512passes,
         advancevectors<variants::advanceavx512>, variants::divideavx512},
#endif
#if defined(GENERATOR_NEON_VARIANT)
        {"neon", "neon", withfma, true, always, variants::neonpasses, advancevectors<variants::advanceneon>,
         variants::divideneon},
#endif
    };
    return variants;
}

std::int32_t blockcellsfor(long cachebytes)
{
    if (cachebytes <= 0) {
        return defaultblockcells;
    }
    return static_cast<std::int32_t>(std::clamp<long>(cachebytes / 2 / 4, fewestblockcells, defaultblockcells));
}

namespace {

// A size as /sys writes it: "1024K".
long sizefrom(const std::string& path)
{
    std::ifstream file(path);
    long size = 0;
    std::string unit;
    if (!(file >> size)) {
        return 0;
    }
    std::getline(file, unit);
    return size * (unit.starts_with('K') ? 1024 : unit.starts_with('M') ? 1024 * 1024 : 1);
}

}  // namespace

long secondlevelcachebytes()
{
    long bytes = 0;
#if defined(_SC_LEVEL2_CACHE_SIZE)
    bytes = ::sysconf(_SC_LEVEL2_CACHE_SIZE);
#endif
    // Where the C library does not know it (arm64's): the cache of level 2
    // among the first core's.
    for (int index = 0; bytes <= 0 && index < 8; ++index) {
        const std::string cache = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
        if (sizefrom(cache + "level") == 2) {
            bytes = sizefrom(cache + "size");
        }
    }
    return std::max(bytes, 0L);
}

batchplan planwith(const batchvariant& variant, std::int32_t cellcount, std::int32_t fusedpasses)
{
    const std::int32_t k = std::min(fusedpasses, fused::passesfor(variant.division, cellcount));
    // Cells that fit in the smallest block leave the cache unread: where
    // the C library does not know it, reading it is files opened at every
    // start, for runs that never block.
    if (cellcount <= fewestblockcells) {
        return {&variant, k};
    }
    // Read once: every plan of a run takes the same block.
    static const std::int32_t blockcells = blockcellsfor(secondlevelcachebytes());
    return {&variant, k, blockcells};
}

namespace {

// Where an instruction set has more than one variant, the one each
// processor family runs: the one that measured fastest there, in one run
// of the benchmarks (docs/benchmarks.md). A family no row names runs the
// set's first variant.
struct familychoice {
    const char* vendor;
    int family;
    const char* variant;
};

constexpr familychoice familychoices[] = {
#if defined(GENERATOR_X86_VARIANTS)
    // Every Intel Core and Xeon since 2006: the floor is two
    // micro-operations on the FMA ports, and the form rounded down puts a
    // subtraction in its place.
    {"intel", 6, "avx2rounddown"},
#endif
    {"", 0, ""},
};

// The processor's vendor ("intel", "amd" or "") and family.
std::pair<std::string, int> processorfamily()
{
#if defined(GENERATOR_X86_VARIANTS)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    std::string vendor;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        // "GenuineIntel" and "AuthenticAMD", in ebx, edx, ecx.
        vendor = ebx == 0x756e6547 ? "intel" : ebx == 0x68747541 ? "amd" : "";
    }
    int family = -1;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        const int base = static_cast<int>((eax >> 8) & 0xf);
        family = base == 0xf ? base + static_cast<int>((eax >> 20) & 0xff) : base;
    }
    return {vendor, family};
#else
    return {"", -1};
#endif
}

}  // namespace

const batchvariant& variantforfamily(const std::string& instructionset, const std::string& vendor, int family)
{
    const batchvariant* first = nullptr;
    for (const batchvariant& variant : batchvariants()) {
        if (variant.instructionset != instructionset) {
            continue;
        }
        first = first != nullptr ? first : &variant;
        for (const familychoice& row : familychoices) {
            if (row.vendor == vendor && row.family == family && row.variant == std::string(variant.name)) {
                return variant;
            }
        }
    }
    return *first;
}

batchplan fastestbatchplan(std::int32_t cellcount)
{
    const auto& variants = batchvariants();
    const batchvariant& widest =
        *std::find_if(variants.rbegin(), variants.rend(), [](const batchvariant& v) { return v.supported(); });
    const auto [vendor, family] = processorfamily();
    return planwith(variantforfamily(widest.instructionset, vendor, family), cellcount);
}

std::int32_t runbatches(const batchplan& plan, spigotbatch& cells, std::int8_t* digits,
                        const std::function<void(double)>& afterblock)
{
    const fusedpass pass = {static_cast<double>(fused::power(plan.fusedpasses)),
                            fused::bias(plan.variant->division, plan.fusedpasses)};
    const std::int32_t count = std::min(plan.batchesingroup(cells.cellcount), mostgroupbatches);
    const std::int32_t passes = plan.variant->passes;
    std::array<batchrun, mostgroupbatches> runs;
    std::int32_t finished = 0;
    // In each block every batch in turn, as far down as the block's bottom
    // or the batch before it allows; the last block takes each to its end.
    for (std::int64_t top = cells.cellcount; finished < count; top -= plan.blockcells) {
        const std::int32_t blockbottom = top - plan.blockcells > 0 ? static_cast<std::int32_t>(top - plan.blockcells)
                                                                   : INT32_MIN;
        for (std::int32_t g = finished; g < count; ++g) {
            const std::int32_t after = g > 0 ? runs[g - 1].lowestafter(passes) : INT32_MIN;
            plan.variant->advance(cells, runs[g], std::max(blockbottom, after), pass);
            // Before the next reads cell 0, which this one's units go back
            // into.
            if (runs[g].done && g == finished) {
                takedigits(cells, runs[g].carries.data(), passes, plan.fusedpasses,
                           digits + g * passes * plan.fusedpasses);
                ++finished;
            }
        }
        if (count > 1 && afterblock) {
            double passesdone = 0.0;
            for (std::int32_t g = 0; g < count; ++g) {
                passesdone += runs[g].share(cells.cellcount, passes) * passes;
            }
            afterblock(passesdone);
        }
    }
    return count;
}

}  // namespace generator
