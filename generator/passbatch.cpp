#include "passbatch.h"

#include <algorithm>
#include <array>
#include <climits>

#include "floatdivide.h"

// The vector variants, each in its own file built for its instruction set
// (the build defines which exist).
#include "variants/variants.h"

namespace generator {

namespace {

// Rounded once, to the cells' own precision: count cells from `lowest`.
template <typename scalar>
std::shared_ptr<const std::vector<scalar>> reciprocaltable(std::int32_t lowest, std::int32_t count)
{
    auto table = std::make_shared<std::vector<scalar>>(static_cast<std::size_t>(count));
    for (std::size_t j = 0; j < table->size(); ++j) {
        (*table)[j] = scalar(1) / static_cast<scalar>(2 * (static_cast<std::size_t>(lowest) + j) + 1);
    }
    return table;
}

}  // namespace

spigotbatch::spigotbatch(std::int32_t cellcount, std::int32_t crossing)
    : cellcount(cellcount), crossing(crossing), reciprocals(reciprocaltable<double>(crossing, cellcount - crossing)),
      floatreciprocals(reciprocaltable<float>(0, crossing))
{
}

void spigotbatch::start()
{
    if (floatcells.empty() && cells.empty()) {
        floatcells.assign(static_cast<std::size_t>(crossing), 2.0f);
        cells.assign(static_cast<std::size_t>(cellcount - crossing), 2.0);
    }
}

double spigotbatch::cell(std::int32_t j) const
{
    return j < crossing ? floatcells[static_cast<std::size_t>(j)] : cells[static_cast<std::size_t>(j - crossing)];
}

void spigotbatch::setcell(std::int32_t j, double value)
{
    if (j < crossing) {
        floatcells[static_cast<std::size_t>(j)] = static_cast<float>(value);
    } else {
        cells[static_cast<std::size_t>(j - crossing)] = value;
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
    const double base = state.crossing + bottom + 1;  // cell j's multiplier is j + 1
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
        state.setcell(0, q % 10);
    }
}

// The portable batch over the doubles, plain loops the compiler vectorizes
// as it can. Only ever the top region (no float variant runs below it), so
// nothing enters its top cell.
void runportable(spigotbatch& state, [[maybe_unused]] const double* carriesin, double* carriesout)
{
    std::array<double, batchpasses> lane{};
    std::array<double, batchpasses> carry{};
    for (std::int32_t k = 0; k < batchpasses; ++k) {
        lane[k] = k;
    }
    const std::int32_t cellcount = state.cellcount - state.crossing;
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
    std::copy(carry.begin(), carry.end(), carriesout);
}

bool always() { return true; }

void divideportable(const double* x, const double* reciprocals, double* quotients, std::int32_t count)
{
    for (std::int32_t i = 0; i < count; ++i) {
        quotients[i] = exactdivide(x[i], reciprocals[i]);
    }
}

#if defined(GENERATOR_X86_VARIANTS) || defined(GENERATOR_NEON_VARIANT)
// A vector variant's batch over the cells of its precision (variants/).
template <variants::doublebatch runbatch>
void runvectors(spigotbatch& state, const double* carriesin, double* carriesout)
{
    runbatch({state.cells.data(), state.reciprocals->data(), state.cellcount - state.crossing, state.crossing},
             carriesin, carriesout);
}

template <variants::floatbatch runbatch>
void runfloatvectors(spigotbatch& state, const double* carriesin, double* carriesout)
{
    runbatch({state.floatcells.data(), state.floatreciprocals->data(), state.crossing, 0}, carriesin, carriesout);
}

#endif

#if defined(GENERATOR_X86_VARIANTS)
bool avx2supported() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }
bool avx512supported() { return __builtin_cpu_supports("avx512f"); }
#endif

}  // namespace

const std::vector<batchvariant>& batchvariants()
{
    using enum precision;
    [[maybe_unused]] constexpr std::int32_t infloats = floatdivide::mostfloatcells;  // no float variants on some targets
    static const std::vector<batchvariant> variants = {
        {"portable", doubles, INT32_MAX, always, runportable, divideportable, nullptr},
#if defined(GENERATOR_X86_VARIANTS)
        {"avx2", doubles, INT32_MAX, avx2supported, runvectors<variants::runavx2>, variants::divideavx2, nullptr},
        {"avx2float", floats, infloats, avx2supported, runfloatvectors<variants::runavx2float>, nullptr,
         variants::divideavx2float},
        {"avx512", doubles, INT32_MAX, avx512supported, runvectors<variants::runavx512>, variants::divideavx512,
         nullptr},
        {"avx512float", floats, infloats, avx512supported, runfloatvectors<variants::runavx512float>, nullptr,
         variants::divideavx512float},
#endif
#if defined(GENERATOR_NEON_VARIANT)
        {"neon", doubles, INT32_MAX, always, runvectors<variants::runneon>, variants::divideneon, nullptr},
        {"neonfloat", floats, infloats, always, runfloatvectors<variants::runneonfloat>, nullptr,
         variants::divideneonfloat},
#endif
    };
    return variants;
}

batchplan planwith(const batchvariant& variant, std::int32_t cellcount, std::int32_t crossing)
{
    if (variant.cellsin == precision::doubles) {
        return {nullptr, &variant, 0};
    }
    crossing = std::min({crossing, variant.mostcells, cellcount});
    // The doubles of the float variant's instruction set come right before it.
    const batchvariant& doubles = (&variant)[-1];
    if (crossing == 0 && cellcount > 0) {
        return {nullptr, &doubles, 0};
    }
    // A run without cells is one float region, as a run whose cells all fit is.
    return {&variant, crossing < cellcount ? &doubles : nullptr, crossing};
}

batchplan fastestbatchplan(std::int32_t cellcount)
{
    const auto& variants = batchvariants();
    return planwith(*std::find_if(variants.rbegin(), variants.rend(),
                                  [](const batchvariant& v) { return v.supported(); }),
                    cellcount);
}

void runbatch(const batchplan& plan, spigotbatch& cells, std::int8_t* digits)
{
    std::array<double, batchpasses> above;
    std::array<double, batchpasses> carries;
    if (plan.doubles != nullptr && plan.floats != nullptr) {
        plan.doubles->run(cells, nullptr, above.data());
        plan.floats->run(cells, above.data(), carries.data());
    } else {
        (plan.floats != nullptr ? plan.floats : plan.doubles)->run(cells, nullptr, carries.data());
    }
    takedigits(cells, carries.data(), digits);
}

}  // namespace generator
