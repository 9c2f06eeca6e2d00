#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cfloat>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if defined(__FAST_MATH__)
#error "exactdivide needs IEEE arithmetic: build without -ffast-math"
#endif
static_assert(FLT_RADIX == 2 && DBL_MANT_DIG >= 53, "exactdivide needs 53-bit binary doubles");

// The generator's passes, run many at a time ahead of demand.
//
// A batch runs its variant's passes together (a few dozen to 128), pass
// k + 1 one cell behind pass k: at each step the passes work on
// neighbouring cells, each with its own carry, so their carry chains are
// independent and fill vector lanes. A spigot runs one batch at a time, so
// it runs no more than a batch of passes past what its text needs, and a
// batch at the largest count takes under a second. The portable variant is plain loops the compiler vectorizes; the
// vector variants (variants/) keep the passes in rotated lanes
// (rotatedpasses.h).
// Cells and carries are doubles holding integers (every value of a pass is
// an integer below 2^53), each pass runs k spigot passes as one by 10^k,
// and each division is a multiply by the cell's reciprocal (fused below).
namespace generator {

// The most passes any variant's batch runs.
inline constexpr std::int32_t batchpasses = 128;

// Passes fused k at a time, and the division that makes them exact.
//
// k passes over a cell are one pass by 10^k: it leaves the cell the k
// passes leave and hands down their carries combined, sum of c_i 10^(k-i).
// With every c_i at most 18, a fused quotient is at most Q = 2 (10^k - 1),
// and cell j (divisor 2j + 1, multiplier j + 1, cell at most 2j) forms
// x < 4 10^k (j + 1), which must stay below 2^53.
//
// floor(x / d) is floor(y), y = x * rho + e, with rho = 1 / d rounded to a
// double, rho = (1 + t) / d, and a bias e > 0 chosen for k. With x = q d + r,
// 0 <= r < d, the extremes are r = 0 (y must reach q) and r = d - 1 (y must
// stay below q + 1); y grows with x, so those decide every x. Let 2^E <= Q
// < 2^(E+1).
//
// fused: y = RN(x rho + e) with one rounding (an FMA instruction); rho is
// 1/d rounded once, |t| < u = 2^-53 unless d is a power of two (t = 0).
//   At r = 0, x rho + e = q + q t + e falls short of q by less than q u - e,
//   and still rounds to q while that is under half the gap of doubles below
//   q: 2^(n-53) for q in (2^n, 2^(n+1)), 2^(n-54) at q = 2^n. The worst q
//   need e >= max(Q u - 2^(E-53), 2^(E-54)).
//   At r = d - 1, x rho + e = (q + 1) + (q + 1) t + e - rho, below q + 1 by
//   more than half the gap there (at most 2^(E-53)) when (Q + 1) u + e +
//   2^(E-53) <= (1 - u) / d, since rho > (1 - u) / d.
// tworoundings: any other evaluation: the product and the sum rounded
// separately, to double, to x87's wider format, or to that and then to
// double, fused or not; rho may have been rounded through the wider
// format, so |t| < 2^-53 (1 + 2^-10). Each value lies below 2^B, the power
// of two above Q + 1, so a rounding errs by under 2^(B-54) (1 + 2^-10), and
// y = x / d + e + eta, |eta| <= eta_max = (Q + 1) 2^-53 (1 + 2^-10) +
// 2^(B-53) (1 + 2^-10). y >= q when e >= eta_max, and y <= q + 1 - 1/d +
// e + eta_max < q + 1 when 1/d > e + eta_max. Truncating y to an integer is
// exact in whatever format y is held.
//
// rounddown: rho = 1/d rounded up, 0 <= t < 2^-52, and no bias, for
// instructions that round each their own way (AVX-512). x rho >= x/d >= q,
// and at r = d - 1, x rho = (q + 1 - 1/d)(1 + t) <= q + 1 - 1/d + t (q + 1)
// < q + 1 when d (Q + 1) <= 2^52: floor(x rho) = q. An FMA that forms
// x rho + 1.5 2^52 exactly and rounds it down once gives 1.5 2^52 + q
// (doubles in [2^52, 2^53) are the integers, and x rho < 2^51), and
// subtracting 1.5 2^52 is exact: one rounding instruction fewer than the
// floor of the fused form. It covers 33,777, 337,770 and 3,377,699 digits
// for k = 10, 9 and 8, and every count with 7. Where instructions have no
// rounding of their own (AVX2), the batch runs with the rounding mode set
// to round toward minus infinity, restored after it: every other
// operation of the update is on integers below 2^53 (the remainder, the
// products and sums of the next x, the numbers' adds and clamps), exact in
// any mode, and so is subtracting 1.5 2^52. The vector division 1/d then
// rounds down, and for an odd d > 1, 1/d is not a double (its denominator
// is no power of two), so rounded up it is the next double above: one
// more in the bits of a positive double. 1/1 is exact.
//
// bias() is the smallest power of two the claim allows, largestdivisor()
// the largest divisor it then covers, both worked out below from these
// inequalities in integers that count 2^-64. For k = 7, 8, 9, 10 the fused
// form covers every count, 3,366,534, 325,759 and 29,519 digits; two
// roundings 11,192,256, 1,343,337, 159,957 and 10,972, and k = 6 every
// count. At cell 0 and below (divisor 1, reciprocal 1) y = x + e rounds
// to x, and x + 1.5 2^52 is exact.
// This needs binary doubles of at least 53 bits and no -ffast-math.
namespace fused {

enum class form { fused, tworoundings, rounddown };

// More would serve only counts that take milliseconds.
inline constexpr std::int32_t mostpasses = 10;

constexpr std::int64_t power(std::int32_t k)
{
    std::int64_t value = 1;
    for (std::int32_t i = 0; i < k; ++i) {
        value *= 10;
    }
    return value;
}

namespace claim {

// Terms in units of 2^-64.
inline constexpr std::uint64_t u = std::uint64_t{1} << 11;

constexpr std::uint64_t powerof2atleast(std::uint64_t value)
{
    std::uint64_t p = 1;
    while (p < value) {
        p <<= 1;
    }
    return p;
}

constexpr int floorlog2(std::uint64_t value)
{
    int e = -1;
    for (; value != 0; value >>= 1) {
        ++e;
    }
    return e;
}

struct terms {
    std::uint64_t bias;
    // What 1 / d must exceed.
    std::uint64_t sum;
};

constexpr terms of(form how, std::int32_t k)
{
    const std::uint64_t q = 2 * (static_cast<std::uint64_t>(power(k)) - 1);
    if (how == form::fused) {
        const std::uint64_t halfgap = std::uint64_t{1} << (floorlog2(q) + 11);  // 2^(E-53)
        const std::uint64_t shortfall = q * u > halfgap ? q * u - halfgap : 0;
        const std::uint64_t bias = powerof2atleast(std::max(shortfall, halfgap / 2));
        return {bias, (q + 1) * u + bias + halfgap};
    }
    const int b = floorlog2(q + 1) + 1;  // Q + 1 < 2^B
    const std::uint64_t eta = (q + 1) * (u + u / 1024) + (std::uint64_t{1} << (b + 11)) + (std::uint64_t{1} << (b + 1));
    // Strictly above eta_max: no rounding form ever meets a tie.
    const std::uint64_t bias = powerof2atleast(eta + 1);
    return {bias, bias + eta};
}

}  // namespace claim

constexpr double bias(form how, std::int32_t k)
{
    return how == form::rounddown ? 0.0 : static_cast<double>(claim::of(how, k).bias) * 0x1p-64;
}

constexpr std::int64_t largestdivisor(form how, std::int32_t k)
{
    // fused: d <= (1 - u) / sum; tworoundings: d sum < 1; rounddown:
    // d (Q + 1) <= 2^52.
    if (how == form::rounddown) {
        return static_cast<std::int64_t>((std::uint64_t{1} << 52) / (2 * static_cast<std::uint64_t>(power(k)) - 1));
    }
    const std::uint64_t one = how == form::fused ? ~std::uint64_t{0} - claim::u + 1 : ~std::uint64_t{0};
    return static_cast<std::int64_t>(one / claim::of(how, k).sum);
}

// The most passes a run of cellcount cells fuses: its largest divisor
// 2 cellcount - 1 covered, and 4 10^k cellcount within 2^53.
constexpr std::int32_t passesfor(form how, std::int32_t cellcount)
{
    std::int32_t k = mostpasses;
    while (k > 1 && (2 * std::int64_t{cellcount} - 1 > largestdivisor(how, k) ||
                     4 * power(k) * cellcount > (std::int64_t{1} << 53))) {
        --k;
    }
    return k;
}

}  // namespace fused


// The cells a batch may reach past either end, at most the passes a
// vector variant keeps in flight and a step per vector: zero cells, whose
// reciprocal is 1 below cell 0 (where divisor and multiplier are 1, which
// passes a carry on unchanged), so that filling and draining a batch need
// no check of the ends.
inline constexpr std::int32_t batchpadding = 144;

// Memory for the cells: at the largest count, on huge pages where the
// system gives them for the asking (the page faults of 4 KB pages cost
// about as much as writing the cells).
template <typename value>
struct cellallocator {
    typedef value value_type;
    cellallocator() = default;
    template <typename other>
    cellallocator(const cellallocator<other>&) noexcept
    {
    }
    value* allocate(std::size_t count);
    void deallocate(value* cells, std::size_t count) noexcept;
    friend bool operator==(const cellallocator&, const cellallocator&) { return true; }
};

// The cells of one spigot, in natural order: cell j is A[j + 1], with
// multiplier j + 1 and divisor 2j + 1, padded on both sides. Each is a
// remainder, below 2j + 1 < 2^31, so 32 bits hold it: 4 bytes a cell, and
// 8 more, shared, for a variant that reads its reciprocals from a table.
struct spigotbatch {
    spigotbatch(std::int32_t cellcount, bool tabled);

    // Makes the cells, every one 2, if no pass has run yet.
    void start();

    // Cell 0, and its reciprocal (null without a table), with the padding
    // around them.
    std::int32_t* cells() { return padded.data() + batchpadding; }
    const double* reciprocals() const { return table ? table->data() + batchpadding : nullptr; }

    std::int32_t cellcount;
    // Empty until the first pass, as until then every cell is 2, so a
    // copy taken before it (pidigits polls one) costs no cells of its
    // own, and a run holds one set of cells however it was copied.
    std::vector<std::int32_t, cellallocator<std::int32_t>> padded;
    // 1 / (2j + 1) rounded, for each cell; never changes, so copies
    // share it.
    std::shared_ptr<const std::vector<double>> table;
};

// One batch on its way down the cells. A variant advances it as far as it
// may; a batch that follows another reads only cells the one before has
// finished, so several can run a block of cells at a time.
struct alignas(64) batchrun {
    // The variant's own between advances: the values in flight and the
    // numbers travelling with the cells.
    alignas(64) std::array<double, batchpasses> inflight;
    alignas(64) std::array<double, 3 * batchpasses> ring;
    // Once done: what pass p took out of cell 0.
    std::array<double, batchpasses> carries;
    // The next step's lowest cell: the batch has finished every cell from
    // bottom + passes up and read none below bottom.
    std::int32_t bottom = 0;
    std::int32_t stepsleft = 0;
    bool started = false;
    bool done = false;

    // How much of its steps it has run, 0 to 1: of the work of its
    // passes, which costs the same at every step.
    double share(std::int32_t cellcount, std::int32_t passes) const
    {
        return done ? 1.0 : started ? std::min(1.0, double(cellcount - 1 - bottom) / (cellcount + passes - 1)) : 0.0;
    }

    // The lowest cell a batch that follows may read: none this one has
    // not finished.
    std::int32_t lowestafter(std::int32_t passes) const
    {
        return done ? INT32_MIN : started ? bottom + passes : INT32_MAX;
    }
};

// What every pass of a batch multiplies its cells by, 10^k, and the bias
// its division takes for that k.
struct fusedpass {
    double power;
    double bias;
};

// One way of running a batch, built for one instruction set.
struct batchvariant {
    const char* name;
    // The instruction set it needs; the widest the processor has is the
    // one run, in the form its family runs fastest (passbatch.cpp).
    const char* instructionset;
    // How it divides, which bounds the passes it fuses.
    fused::form division;
    // Whether it reads the reciprocals from a table rather than working
    // them out as cells enter.
    bool tabled;
    bool (*supported)();
    // The passes each batch runs, at most batchpasses: the lanes of all
    // the vectors it keeps in flight.
    std::int32_t passes;
    // Advances a batch of that many passes, each by pass.power, down the
    // cells as far as it reads no cell below `lowest` (INT32_MIN: to its
    // end, when run.done is set and run.carries[p] holds the carry pass p
    // hands out of cell 0).
    void (*advance)(spigotbatch& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass);
    // The variant's exact division on its own, for tests: quotients[i] =
    // floor(x[i] / d) given reciprocals[i] = 1 / d rounded and the bias,
    // as the fused claim above states it, count a multiple of 8.
    void (*divide)(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);
};

// Every variant this build has, from the slowest (portable) to the
// fastest.
const std::vector<batchvariant>& batchvariants();

// The most cells a plan's block holds and the batches of its group, what
// measured fastest on second-level caches of 1 MB (Zen 5) and 2 MB
// (Sapphire Rapids), and the most batches a group runs.
inline constexpr std::int32_t defaultblockcells = 128 * 1024;
// The fewest cells a block holds: fewer would make a batch stop and go on
// more often than it works (its state goes to memory and back each time).
// Cells that fit in it run one batch a group, whatever the cache.
inline constexpr std::int32_t fewestblockcells = 4096;
inline constexpr std::int32_t defaultgroupbatches = 8;
inline constexpr std::int32_t mostgroupbatches = 8;

// How a run's batches are made: by one variant, each pass fusing
// `fusedpasses` spigot passes. Where the cells are more than a block,
// `groupbatches` batches run a block of `blockcells` cells, one after the
// other, before any goes on to the next block down, so that the block
// stays in the cache; the digits are the same for any block and group.
struct batchplan {
    const batchvariant* variant = nullptr;
    std::int32_t fusedpasses = 1;
    std::int32_t blockcells = defaultblockcells;
    std::int32_t groupbatches = defaultgroupbatches;

    // The batches run together over these cells: one while they fit in a
    // block.
    std::int32_t batchesingroup(std::int32_t cellcount) const
    {
        return cellcount > blockcells ? groupbatches : 1;
    }
};

// The cells of a block for a second-level cache of this many bytes: as
// many as fill half of it (4 bytes a cell), so that the block stays there
// beside whatever else the cache holds, and at most defaultblockcells;
// defaultblockcells where the size is not known (0).
std::int32_t blockcellsfor(long cachebytes);

// This processor's second-level cache, in bytes, as the system tells it
// (sysconf, or Linux's /sys); 0 where it does not.
long secondlevelcachebytes();

// A plan with the given variant for a run of cellcount cells, its block
// sized for this processor's cache, fusing as
// many passes as its division allows, and no more than `fusedpasses`
// (which tests set).
batchplan planwith(const batchvariant& variant, std::int32_t cellcount, std::int32_t fusedpasses = fused::mostpasses);

// The variant of the instruction set that a processor of this vendor
// ("intel", "amd" or "") and family runs.
const batchvariant& variantforfamily(const std::string& instructionset, const std::string& vendor, int family);

// The fastest plan this processor supports for a run of cellcount cells:
// its widest instruction set's variant, in the form that measured fastest
// on the processor's vendor and family, fusing as many passes as it may.
batchplan fastestbatchplan(std::int32_t cellcount);

// A group of batches by the plan, in blocks: the raw digits of its
// batches' passes, each fusedpasses of them, 0 to 10, in digits. Returns
// the batches run. With more than one, afterblock (unless empty) hears
// after every block the passes' work done so far, in passes: the batches
// end together, in the last block.
std::int32_t runbatches(const batchplan& plan, spigotbatch& cells, std::int8_t* digits,
                        const std::function<void(double)>& afterblock = {});

// floor(x / d) in the form with two roundings, given reciprocal = 1 / d
// and the bias for the run's k. Where doubles round to double, y - 1/2
// lies within 1/2 of q and below 2^51, so adding 1.5 2^52 rounds it to
// 1.5 2^52 + q exactly: a form that vectorizes on any x86-64, where a
// conversion of doubles to 64-bit integers does not. x87, which keeps
// y's fraction in its wider format, truncates instead.
inline double exactdivide(double x, double reciprocal, double bias)
{
#if defined(FLT_EVAL_METHOD) && (FLT_EVAL_METHOD == 0 || FLT_EVAL_METHOD == 1)
    constexpr double rounder = 0x1.8p52;
    return (x * reciprocal + (bias - 0.5) + rounder) - rounder;
#else
    return static_cast<double>(static_cast<std::int64_t>(x * reciprocal + bias));
#endif
}

}  // namespace generator
