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
                                        const double* lane, std::int32_t first, std::int32_t last,
                                        const fusedpass& pass)
{
    double* __restrict cells = state.cells.data() + bottom;
    const double* __restrict reciprocals = state.reciprocals->data() + bottom;
    const double base = state.crossing + bottom + 1;  // cell j's multiplier is j + 1
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
[[gnu::always_inline]] inline void takedigits(spigotbatch& state, const double* carry, std::int32_t fusedpasses,
                                              std::int8_t* digits)
{
    const std::int64_t power = fused::power(fusedpasses);
    std::int64_t q = 0;
    for (std::int32_t p = 0; p < batchpasses; ++p) {
        q = power * (q % 10) + static_cast<std::int64_t>(carry[p]);
        std::int64_t value = q / 10;
        std::int8_t* const passdigits = digits + p * fusedpasses;
        for (std::int32_t i = fusedpasses - 1; i > 0; --i, value /= 10) {
            passdigits[i] = static_cast<std::int8_t>(value % 10);
        }
        passdigits[0] = static_cast<std::int8_t>(value);
    }
    if (state.cellcount > 0) {
        state.setcell(0, static_cast<double>(q % 10));
    }
}

// The portable batch over the doubles, plain loops the compiler vectorizes
// as it can. Only ever the top region (no float variant runs below it), so
// nothing enters its top cell.
void runportable(spigotbatch& state, [[maybe_unused]] const double* carriesin, double* carriesout,
                 const fusedpass& pass)
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
        step(state, bottom, carry.data(), lane.data(), std::max(0, -bottom), cellcount - bottom, pass);
    }
    for (; bottom >= 0; --bottom) {
        step(state, bottom, carry.data(), lane.data(), 0, batchpasses, pass);
    }
    for (; bottom > -batchpasses; --bottom) {
        step(state, bottom, carry.data(), lane.data(), -bottom, std::min(batchpasses, cellcount - bottom), pass);
    }
    std::copy(carry.begin(), carry.end(), carriesout);
}

bool always() { return true; }

void divideportable(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    for (std::int32_t i = 0; i < count; ++i) {
        quotients[i] = exactdivide(x[i], reciprocals[i], bias);
    }
}

#if defined(GENERATOR_X86_VARIANTS) || defined(GENERATOR_NEON_VARIANT)
// A vector variant's batch over the cells of its precision (variants/).
template <variants::doublebatch runbatch>
void runvectors(spigotbatch& state, const double* carriesin, double* carriesout, const fusedpass& pass)
{
    runbatch({state.cells.data(), state.reciprocals->data(), state.cellcount - state.crossing, state.crossing},
             carriesin, carriesout, pass);
}

template <variants::floatbatch runbatch>
void runfloatvectors(spigotbatch& state, const double* carriesin, double* carriesout, const fusedpass& pass)
{
    runbatch({state.floatcells.data(), state.floatreciprocals->data(), state.crossing, 0}, carriesin, carriesout,
             pass);
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
    [[maybe_unused]] constexpr fused::form withfma = fused::form::fused;
    [[maybe_unused]] constexpr std::int32_t infloats = floatdivide::mostfloatcells;  // no float variants on some targets
    static const std::vector<batchvariant> variants = {
        {"portable", doubles, fused::form::tworoundings, INT32_MAX, always, runportable, divideportable, nullptr},
#if defined(GENERATOR_X86_VARIANTS)
        {"avx2", doubles, withfma, INT32_MAX, avx2supported, runvectors<variants::runavx2>, variants::divideavx2, nullptr},
        {"avx2float", floats, withfma, infloats, avx2supported, runfloatvectors<variants::runavx2float>, nullptr,
         variants::divideavx2float},
        {"avx512", doubles, withfma, INT32_MAX, avx512supported, runvectors<variants::runavx512>, variants::divideavx512,
         nullptr},
        {"avx512float", floats, withfma, infloats, avx512supported, runfloatvectors<variants::runavx512float>, nullptr,
         variants::divideavx512float},
#endif
#if defined(GENERATOR_NEON_VARIANT)
        {"neon", doubles, withfma, INT32_MAX, always, runvectors<variants::runneon>, variants::divideneon, nullptr},
        {"neonfloat", floats, withfma, infloats, always, runfloatvectors<variants::runneonfloat>, nullptr,
         variants::divideneonfloat},
#endif
    };
    return variants;
}

batchplan planwith(const batchvariant& variant, std::int32_t cellcount, std::int32_t crossing,
                   std::int32_t fusedpasses)
{
    if (variant.cellsin == precision::doubles) {
        return {nullptr, &variant, 0, std::min(fusedpasses, fused::passesfor(variant.division, cellcount))};
    }
    crossing = std::min({crossing, variant.mostcells, cellcount});
    // The doubles of the float variant's instruction set come right before it.
    const batchvariant& doubles = (&variant)[-1];
    if (crossing == 0 && cellcount > 0) {
        return {nullptr, &doubles, 0, 1};
    }
    // A run without cells is one float region, as a run whose cells all fit is.
    return {&variant, crossing < cellcount ? &doubles : nullptr, crossing, 1};
}

// A pass by 10^7 or more in doubles does several times what a pass by 10
// does in float lanes twice as wide: the doubles win.
batchplan fastestbatchplan(std::int32_t cellcount)
{
    const auto& variants = batchvariants();
    return planwith(*std::find_if(variants.rbegin(), variants.rend(),
                                  [](const batchvariant& v) { return v.cellsin == precision::doubles && v.supported(); }),
                    cellcount);
}

void runbatch(const batchplan& plan, spigotbatch& cells, std::int8_t* digits)
{
    const batchvariant& divides = plan.doubles != nullptr ? *plan.doubles : *plan.floats;
    const fusedpass pass = {static_cast<double>(fused::power(plan.fusedpasses)),
                            fused::bias(divides.division, plan.fusedpasses)};
    std::array<double, batchpasses> above;
    std::array<double, batchpasses> carries;
    if (plan.doubles != nullptr && plan.floats != nullptr) {
        plan.doubles->run(cells, nullptr, above.data(), pass);
        plan.floats->run(cells, above.data(), carries.data(), pass);
    } else {
        (plan.floats != nullptr ? plan.floats : plan.doubles)->run(cells, nullptr, carries.data(), pass);
    }
    takedigits(cells, carries.data(), plan.fusedpasses, digits);
}

}  // namespace generator
