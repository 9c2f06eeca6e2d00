#pragma once

#include <cfloat>
#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#if defined(__FAST_MATH__)
#error "exactdivide needs IEEE arithmetic: build without -ffast-math"
#endif
static_assert(FLT_RADIX == 2 && DBL_MANT_DIG >= 53, "exactdivide needs 53-bit binary doubles");

// The generator's passes, run many at a time ahead of demand.
//
// A batch runs `batchpasses` passes together, pass k + 1 one cell behind
// pass k: at each step the passes work on neighbouring cells, each with
// its own carry, so their carry chains are independent and fill vector
// lanes. The portable variant is plain loops the compiler vectorizes; the
// vector variants (variants/) keep the passes in rotated lanes
// (rotatedpasses.h).
// Cells and carries are doubles holding integers (every value of a pass is
// an integer below 2^31), and each division is a multiply by the cell's
// reciprocal (exactdivide below); or, for the cells whose every value fits
// a float, floats (floatdivide.h), twice as many to a vector. Carries only
// flow down, so a batch is a stack of regions: the doubles above the
// crossing run their passes first and hand the floats below one carry per
// pass.
namespace generator {

inline constexpr std::int32_t batchpasses = 256;

enum class precision { doubles, floats };

// The cells of one spigot, in natural order: cell j is A[j + 1], with
// multiplier j + 1 and divisor 2j + 1; cells [0, crossing) are floats, the
// rest doubles. 8 bytes a cell in floats, 16 in doubles, half of them
// shared.
struct spigotbatch {
    spigotbatch(std::int32_t cellcount, std::int32_t crossing);

    // Makes the cells, every one 2, if no pass has run yet.
    void start();

    // Cell j's value, whichever region holds it.
    double cell(std::int32_t j) const;
    void setcell(std::int32_t j, double value);

    std::int32_t cellcount;
    std::int32_t crossing;
    // Empty until the first pass, as until then every cell is 2, so a
    // copy taken before it (pidigits polls one) costs no cells of its
    // own, and a run holds one set of cells however it was copied. The
    // doubles start at cell `crossing`.
    std::vector<double> cells;
    std::vector<float> floatcells;
    // 1 / (2j + 1), rounded, for each region's cells; never changes, so
    // copies share it.
    std::shared_ptr<const std::vector<double>> reciprocals;
    std::shared_ptr<const std::vector<float>> floatreciprocals;
};

// Divisions in floats, for testing a variant's own: quotients[i] and
// remainders[i] of x[i] by divisors[i], given reciprocals[i] = 1 /
// divisors[i] rounded; count is a multiple of 16.
struct floatdivisions {
    const float* x;
    const float* reciprocals;
    const float* divisors;
    float* quotients;
    float* remainders;
    std::int32_t count;
};

// One way of running a batch, built for one instruction set.
struct batchvariant {
    const char* name;
    precision cellsin;
    // The most cells it is exact for.
    std::int32_t mostcells;
    bool (*supported)();
    // Runs batchpasses passes over the cells of its precision, pass p
    // bringing carriesin[p] (null: nothing) into their top cell, and
    // stores in carriesout[p] the carry pass p hands below the bottom one.
    void (*run)(spigotbatch& cells, const double* carriesin, double* carriesout);
    // The variant's exact division on its own, for tests. In doubles:
    // quotients[i] = floor(x[i] / d) given reciprocals[i] = 1 / d rounded,
    // as exactdivide below states it, count a multiple of 8; null in
    // floats, which have dividefloats, in the bias form or the corrected
    // one (floatdivide.h).
    void (*divide)(const double* x, const double* reciprocals, double* quotients, std::int32_t count);
    void (*dividefloats)(const floatdivisions& divisions, bool corrected);
};

// Every variant this build has, from the slowest (portable) to the
// fastest, each instruction set's floats right after its doubles.
const std::vector<batchvariant>& batchvariants();

// How a run's batches are made: cells [0, crossing) by the float variant,
// the rest by the double one; a variant without cells is null.
struct batchplan {
    const batchvariant* floats = nullptr;
    const batchvariant* doubles = nullptr;
    std::int32_t crossing = 0;
};

// A plan with the given variant for a run of cellcount cells: a float
// variant takes every cell a float serves, up to `crossing` (which tests
// set lower), and its instruction set's doubles the rest; a double one
// takes them all.
batchplan planwith(const batchvariant& variant, std::int32_t cellcount, std::int32_t crossing = INT32_MAX);

// The fastest plan this processor supports for a run of cellcount cells:
// its widest instruction set, in floats for every cell a float serves
// where that set has float lanes.
batchplan fastestbatchplan(std::int32_t cellcount);

// One batch by the plan: each pass's raw digit, 0 to 10, in digits.
void runbatch(const batchplan& plan, spigotbatch& cells, std::int8_t* digits);

// floor(x / d) for integers 0 <= x < 2^31 and 1 <= d <= 2^27 with a
// quotient below 2^12, given reciprocal = 1 / d rounded to a double.
//
// Why it is exact: x * reciprocal = x / d + (x / d) t with |t| < 2^-52
// (also when 1 / d was rounded through a wider format first, as on x87),
// so it is off from x / d by less than 2^12 * 2^-52 = 2^-40; the product
// and the sum with 2^-30 are each rounded (fused or not, to double or to a
// wider format, or both) with an error below 2^-39 each. So y = x / d +
// 2^-30 + eta with |eta| < 2^-37. If x / d = q + f, f is 0 or at least
// 1/d >= 2^-27 and at most 1 - 1/d: y > q since 2^-30 > 2^-37, and
// y < q + 1 since 1/d > 2^-30 + 2^-37. The conversion to an integer
// truncates exactly, whatever format y is held in, so the result is q.
// This needs binary doubles of at least 53 bits and no -ffast-math.
inline double exactdivide(double x, double reciprocal)
{
    return static_cast<double>(static_cast<std::int32_t>(x * reciprocal + 0x1p-30));
}

}  // namespace generator
