#include "passbatch.h"

// Vector variants where the compiler can build code for an instruction set
// this file's baseline lacks.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define GENERATOR_X86_VARIANTS 1
// Their functions are all inlined into the variant that uses them, so no
// vector crosses a call and the calling convention for vectors, which the
// baseline target lacks, never applies.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
// Every arm64 processor has NEON, so its variant is built with the file's
// own flags and needs no check.
#if defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
#define GENERATOR_NEON_VARIANT 1
#endif
#if defined(GENERATOR_X86_VARIANTS) || defined(GENERATOR_NEON_VARIANT)
#include "rotatedpasses.h"
#endif

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

// Cell 0 (divisor 1) handed each pass all of 10 * A[1] + carry and kept 0;
// the spigot keeps the units in A[1] instead, for the next pass, and the
// tens are the raw digit.
[[gnu::always_inline]] inline void takedigits(spigotbatch& state, const double* carry, std::int8_t* digits)
{
    std::int32_t q = 0;
    for (std::int32_t k = 0; k < batchpasses; ++k) {
        q = 10 * (q % 10) + static_cast<std::int32_t>(carry[k]);
        digits[k] = static_cast<std::int8_t>(q / 10);
    }
    if (state.cellcount > 0) {
        state.cells[0] = q % 10;
    }
}

// The portable batch, plain loops the compiler vectorizes as it can.
void runportable(spigotbatch& state, std::int8_t* digits)
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
    takedigits(state, carry.data(), digits);
}

bool always() { return true; }

void divideportable(const double* x, const double* reciprocals, double* quotients, std::int32_t count)
{
    for (std::int32_t i = 0; i < count; ++i) {
        quotients[i] = exactdivide(x[i], reciprocals[i]);
    }
}

#if defined(GENERATOR_X86_VARIANTS) || defined(GENERATOR_NEON_VARIANT)
// Batches of the rotated kernel (rotatedpasses.h) run one after another make
// up the batchpasses passes.
template <typename vector, int vectors>
[[gnu::always_inline]] inline void runrotated(spigotbatch& state, std::int8_t* digits)
{
    constexpr std::int32_t passes = vectors * rotated::widthof<vector>;
    static_assert(batchpasses % passes == 0);
    std::array<double, batchpasses> carry;
    for (std::int32_t first = 0; first < batchpasses; first += passes) {
        rotated::runpasses<vector, vectors>(state.cells.data(), state.reciprocals->data(), state.cellcount,
                                            carry.data() + first);
    }
    takedigits(state, carry.data(), digits);
}
#endif

#if defined(GENERATOR_X86_VARIANTS)
bool avx2supported() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }
bool avx512supported() { return __builtin_cpu_supports("avx512f"); }

typedef double avx2vector __attribute__((vector_size(32)));
typedef double avx512vector __attribute__((vector_size(64)));

[[gnu::target("avx2,fma")]] void divideavx2(const double* x, const double* reciprocals, double* quotients,
                                            std::int32_t count)
{
    rotated::dividelanes<avx2vector>(x, reciprocals, quotients, count);
}

[[gnu::target("avx512f")]] void divideavx512(const double* x, const double* reciprocals, double* quotients,
                                             std::int32_t count)
{
    rotated::dividelanes<avx512vector>(x, reciprocals, quotients, count);
}

// For AVX2, eight vectors of four and twelve ran alike; eight leave
// registers to spare.
[[gnu::target("avx2,fma")]] void runavx2(spigotbatch& state, std::int8_t* digits)
{
    runrotated<avx2vector, 8>(state, digits);
}

[[gnu::target("avx512f")]] void runavx512(spigotbatch& state, std::int8_t* digits)
{
    runrotated<avx512vector, 12>(state, digits);
}
#endif

#if defined(GENERATOR_NEON_VARIANT)
typedef double neonvector __attribute__((vector_size(16)));

void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count)
{
    rotated::dividelanes<neonvector>(x, reciprocals, quotients, count);
}

// Sixteen vectors of two cover a step's latency (about 15 cycles) with up
// to four FMA pipes, within the 32 registers.
void runneon(spigotbatch& state, std::int8_t* digits) { runrotated<neonvector, 16>(state, digits); }
#endif

}  // namespace

const std::vector<batchvariant>& batchvariants()
{
    static const std::vector<batchvariant> variants = {
        {"portable", always, runportable, divideportable},
#if defined(GENERATOR_X86_VARIANTS)
        {"avx2", avx2supported, runavx2, divideavx2},
        {"avx512", avx512supported, runavx512, divideavx512},
#endif
#if defined(GENERATOR_NEON_VARIANT)
        {"neon", always, runneon, divideneon},
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
