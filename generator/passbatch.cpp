#include "passbatch.h"

#include <algorithm>
#include <array>
#include <cfloat>

#if defined(__FAST_MATH__)
#error "exactdivide needs IEEE arithmetic: build without -ffast-math"
#endif
static_assert(FLT_RADIX == 2 && DBL_MANT_DIG >= 53, "exactdivide needs 53-bit binary doubles");

namespace generator {

spigotbatch::spigotbatch(std::int32_t cellcount) : cellcount(cellcount)
{
    auto table = std::make_shared<std::vector<double>>(static_cast<std::size_t>(cellcount));
    for (std::size_t j = 0; j < table->size(); ++j) {
        (*table)[j] = 1.0 / static_cast<double>(2 * j + 1);
    }
    reciprocals = std::move(table);
}

void spigotbatch::start()
{
    if (cells.empty()) {
        cells.assign(static_cast<std::size_t>(cellcount), 2.0);
    }
}

namespace {

// One step of a batch: pass k, for first <= k < last, works on cell
// bottom + k.
[[gnu::always_inline]] inline void step(spigotbatch& state, std::int32_t bottom, double* carry,
                                        const double* lane, std::int32_t first, std::int32_t last)
{
    double* __restrict cells = state.cells.data() + bottom;
    const double* __restrict reciprocals = state.reciprocals->data() + bottom;
    const double base = bottom + 1;  // cell j's multiplier is j + 1
    for (std::int32_t k = first; k < last; ++k) {
        const double multiplier = base + lane[k];
        const double divisor = multiplier + multiplier - 1.0;
        const double x = 10.0 * cells[k] + carry[k] * multiplier;
        const double q = exactdivide(x, reciprocals[k]);
        cells[k] = x - q * divisor;
        carry[k] = q;
    }
}

// The batch itself, written once and inlined into each variant, so that
// each is compiled for its own instruction set.
[[gnu::always_inline]] inline void runbatch(spigotbatch& state, std::int8_t* digits)
{
    std::array<double, batchpasses> lane{};
    std::array<double, batchpasses> carry{};
    for (std::int32_t k = 0; k < batchpasses; ++k) {
        lane[k] = k;
    }
    const std::int32_t cellcount = state.cellcount;
    // Pass k works on cell bottom + k, while that is a cell: above the top
    // it has not started (its carry is still 0), below cell 0 it is done.
    // In between, every pass has a cell, and the step's bounds are fixed.
    std::int32_t bottom = cellcount - 1;
    for (; bottom > -batchpasses && bottom > cellcount - batchpasses; --bottom) {
        step(state, bottom, carry.data(), lane.data(), std::max(0, -bottom), cellcount - bottom);
    }
    for (; bottom >= 0; --bottom) {
        step(state, bottom, carry.data(), lane.data(), 0, batchpasses);
    }
    for (; bottom > -batchpasses; --bottom) {
        step(state, bottom, carry.data(), lane.data(), -bottom, std::min(batchpasses, cellcount - bottom));
    }
    // Cell 0 (divisor 1) handed each pass all of 10 * A[1] + carry and kept
    // 0; the spigot keeps the units in A[1] instead, for the next pass, and
    // the tens are the raw digit.
    std::int32_t q = 0;
    for (std::int32_t k = 0; k < batchpasses; ++k) {
        q = 10 * (q % 10) + static_cast<std::int32_t>(carry[k]);
        digits[k] = static_cast<std::int8_t>(q / 10);
    }
    if (cellcount > 0) {
        state.cells[0] = q % 10;
    }
}

bool always() { return true; }

void runportable(spigotbatch& cells, std::int8_t* digits) { runbatch(cells, digits); }

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define GENERATOR_X86_VARIANTS 1

bool avx2supported() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }
bool avx512supported() { return __builtin_cpu_supports("avx512f"); }

[[gnu::target("avx2,fma")]] void runavx2(spigotbatch& cells, std::int8_t* digits)
{
    runbatch(cells, digits);
}

[[gnu::target("avx512f")]] void runavx512(spigotbatch& cells, std::int8_t* digits)
{
    runbatch(cells, digits);
}
#endif

}  // namespace

const std::vector<batchvariant>& batchvariants()
{
    static const std::vector<batchvariant> variants = {
        {"portable", always, runportable},
#if defined(GENERATOR_X86_VARIANTS)
        {"avx2", avx2supported, runavx2},
        {"avx512", avx512supported, runavx512},
#endif
    };
    return variants;
}

const batchvariant& fastestbatchvariant()
{
    static const batchvariant& chosen = [] () -> const batchvariant& {
        const auto& variants = batchvariants();
        const auto widest = std::find_if(variants.rbegin(), variants.rend(),
                                         [](const batchvariant& v) { return v.supported(); });
        return *widest;
    }();
    return chosen;
}

}  // namespace generator
