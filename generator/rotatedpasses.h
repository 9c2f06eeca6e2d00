#pragma once

// The vector variants' batch, in rotated lanes.
//
// With V vectors of W lanes in flight, lane l of vector i runs pass V l + i.
// At each step pass p works on cell bottom + p and leaves it to pass p + 1,
// which takes it at the next step in the same lane of the next vector: so
// cells move between vectors by renaming, and only the cells leaving vector
// V - 1 move, up one lane into vector 0, where the cell below the batch
// enters lane 0 while the top lane, which the last pass has finished, goes
// back to memory. Each cell's reciprocal, multiplier and divisor travel with
// it in a ring of V slots, one slot renewed per step; unrolling V steps
// keeps every slot and vector known when compiling.
//
// Vectors are the compiler's vector types (GCC and Clang), whose values
// stay in registers; each function is inlined into a variant built for its
// instruction set (variants/), which brings its own division with that
// set's floor instruction.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "floatdivide.h"
#include "passbatch.h"
#include "variants/variants.h"

namespace generator::rotated {

// A region of cells runs with numbers from its first cell, `lowest`; below
// it every number is 1, which passes the carry leaving it on unchanged to
// the end (cell 0's own numbers are already 1). Pass p arrives at the
// region's top cell at step p, and its x there gains carriesin[p] times
// the top cell's multiplier, which is how a region above hands its
// carries down.

// A vector's lanes are doubles, or floats in a run whose values all fit
// one (floatdivide.h).
template <typename vector>
using scalarof = std::remove_cvref_t<decltype(vector{}[0])>;

template <typename vector>
inline constexpr int widthof = sizeof(vector) / sizeof(scalarof<vector>);

// W lanes from memory, which need not be aligned.
template <typename vector>
[[gnu::always_inline]] inline vector loadlanes(const scalarof<vector>* p)
{
    vector v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Lanes 0 to W - 1 of v become `entering`, v[0], ..., v[W - 2].
template <typename vector, std::size_t... l>
[[gnu::always_inline]] inline vector shiftup(const vector& v, scalarof<vector> entering, std::index_sequence<l...>)
{
    const vector in = entering - vector{};  // x - 0 is x, so this is a broadcast
    return __builtin_shufflevector(v, in, (l == 0 ? widthof<vector> : int(l) - 1)...);
}

template <typename vector>
[[gnu::always_inline]] inline vector shiftup(const vector& v, scalarof<vector> entering)
{
    return shiftup(v, entering, std::make_index_sequence<widthof<vector>>());
}

// v where it is at least the region's lowest number, 1 below.
template <typename vector>
[[gnu::always_inline]] inline vector oneifbelow(const vector& v, scalarof<vector> lowest)
{
    const vector one = vector{} + scalarof<vector>(1);
    return v >= lowest ? v : one;
}

// A division, which each variant brings: quotient(x, reciprocal, bias) is
// floor(x / d) lane by lane, given reciprocal = 1 / d, for the values of a
// pass. In doubles, the fused claim (passbatch.h) puts y = fma(x,
// reciprocal, bias) strictly between q and q + 1, so a floor instruction
// gives q. In floats quotient is the bias form with its own bias, and
// correcteddivide(x, reciprocal, divisor, q, r) the corrected one for the
// cells past its range (floatdivide.h). (A vector floor has no portable
// spelling for these types, hence the variants' intrinsics.)

// A quotient and its remainder, x = q d + r, in the bias form or the
// corrected one.
template <typename vector, typename division, bool corrected>
[[gnu::always_inline]] inline void dividewith(const vector& x, const vector& reciprocal, const vector& divisor,
                                              const vector& bias, vector& q, vector& r)
{
    if constexpr (corrected) {
        division::correcteddivide(x, reciprocal, divisor, q, r);
    } else {
        q = division::quotient(x, reciprocal, bias);
        r = x - q * divisor;
    }
}

// A division over arrays, for tests; count is a multiple of the width.
template <typename vector, typename division>
[[gnu::always_inline]] inline void dividelanes(const double* x, const double* reciprocals, double* quotients,
                                               std::int32_t count, double bias)
{
    const vector biases = bias - vector{};
    for (std::int32_t i = 0; i < count; i += widthof<vector>) {
        const vector q = division::quotient(loadlanes<vector>(x + i), loadlanes<vector>(reciprocals + i), biases);
        std::memcpy(quotients + i, &q, sizeof q);
    }
}

// The same in floats, quotients and remainders, as a batch makes them.
template <typename vector, typename division>
[[gnu::always_inline]] inline void dividefloatlanes(const floatdivisions& divisions, bool corrected)
{
    for (std::int32_t i = 0; i < divisions.count; i += widthof<vector>) {
        const vector x = loadlanes<vector>(divisions.x + i);
        const vector reciprocal = loadlanes<vector>(divisions.reciprocals + i);
        const vector divisor = loadlanes<vector>(divisions.divisors + i);
        vector q, r;
        const vector bias = floatdivide::bias - vector{};
        if (corrected) {
            dividewith<vector, division, true>(x, reciprocal, divisor, bias, q, r);
        } else {
            dividewith<vector, division, false>(x, reciprocal, divisor, bias, q, r);
        }
        std::memcpy(divisions.quotients + i, &q, sizeof q);
        std::memcpy(divisions.remainders + i, &r, sizeof r);
    }
}

// Which ends of the cell array a chunk of steps may pass: above the top
// (while the last pass has not reached the cells, its cell leaves nowhere)
// or below cell 0 (the cells entering are zero, the numbers that come with
// them clamp at 1, and at the last steps the cell leaving is outside too).
enum class edges { none, top, bottom, both };

template <typename vector, int vectors, typename division>
struct batch {
    typedef scalarof<vector> scalar;
    static constexpr int width = widthof<vector>;
    static constexpr std::int32_t passes = vectors * width;

    struct ringslot {
        vector reciprocal, multiplier, divisor;
    };

    scalar* __restrict cells;
    const scalar* __restrict reciprocals;
    std::int32_t cellcount;
    ringslot* ring;
    scalar discarded;
    // What every pass multiplies a cell by, 10^k, and its division's bias.
    scalar ten;
    vector bias;
    // The numbers of the region's bottom cell.
    scalar lowestmultiplier, lowestdivisor;
    // What each pass brings into the top cell, times its multiplier.
    const scalar* arriving;

    // Zero above the region's top cell; below its bottom one, zero with
    // every number 1, which passes a carry on unchanged. Both read a real cell whatever j
    // is, so that the value is selected rather than branched around.
    bool iscell(std::int32_t j) const
    {
        return static_cast<std::uint32_t>(j) < static_cast<std::uint32_t>(cellcount);
    }
    scalar cellat(std::int32_t j) const
    {
        const scalar value = cells[std::clamp(j, 0, cellcount - 1)];
        return iscell(j) ? value : scalar(0);
    }
    scalar reciprocalat(std::int32_t j) const
    {
        const scalar value = reciprocals[std::clamp(j, 0, cellcount - 1)];
        return iscell(j) ? value : scalar(1);
    }

    // Step k of V at `bottom`: logical vector i sits in slot (i - k) mod V.
    // x[i] holds what vector i divides at this step, 10 * cell + carry *
    // multiplier, and leaves what it divides at the next, formed from the
    // remainder vector i - 1 has just left and vector i's own quotient: so
    // only one vector per pass group waits in registers between steps.
    template <edges at, bool corrected, int k>
    [[gnu::always_inline]] void step(std::int32_t bottom, vector* x)
    {
        vector left{}, firstquotient{};
#pragma GCC unroll 16
        for (int i = 0; i < vectors; ++i) {
            const int s = (i - k + vectors) % vectors;
            vector q, remainder;
            dividewith<vector, division, corrected>(x[i], ring[s].reciprocal, ring[s].divisor, bias, q, remainder);
            if (i == 0) {
                firstquotient = q;
            } else {
                // The slot vector i - 1 used is vector i's at the next step.
                const int next = (i - 1 - k + vectors) % vectors;
                x[i] = left * ten + q * ring[next].multiplier;
            }
            left = remainder;
        }
        // Vector V - 1's top lane is the last pass's: that cell is final.
        const int out = (vectors - 1 - k + vectors) % vectors;
        const std::int32_t top = bottom + passes - 1;
        // Outside the cells it goes to `discarded`: an address selected
        // rather than a branch, so that the step stays one block.
        // Near either end the leaving cell may be outside (above the top, or
        // below cell 0 at the last steps); only below cell 0 do cells enter
        // from outside.
        constexpr bool belowzero = at == edges::bottom || at == edges::both;
        scalar* const leaving = at == edges::none || iscell(top) ? cells + top : &discarded;
        *leaving = left[width - 1];
        const vector entered = shiftup(left, belowzero ? cellat(bottom - 1) : cells[bottom - 1]);
        ringslot& renewed = ring[out];
        renewed.reciprocal =
            shiftup(renewed.reciprocal, belowzero ? reciprocalat(bottom - 1) : reciprocals[bottom - 1]);
        // The slot's cells are now V lower; below cell 0 (only while
        // draining) numbers clamped at 1 stay 1.
        renewed.multiplier = renewed.multiplier - scalar(vectors);
        renewed.divisor = renewed.divisor - scalar(2 * vectors);
        if (belowzero) {
            renewed.multiplier = oneifbelow(renewed.multiplier, lowestmultiplier);
            renewed.divisor = oneifbelow(renewed.divisor, lowestdivisor);
        }
        x[0] = entered * ten + firstquotient * renewed.multiplier;
    }

    template <edges at, bool corrected, int... k>
    [[gnu::always_inline]] void unrolled(std::int32_t bottom, vector* x, std::integer_sequence<int, k...>)
    {
        if constexpr (at == edges::top || at == edges::both) {
            // Chunk m of these W brings pass V m + k to the top cell at
            // its step k: lane m of vector k gains what that pass brings.
            // A one-lane vector is a load from a window of zeros around it.
            const int m = (cellcount - 1 - bottom) / vectors;
            scalar window[2 * width - 1] = {};
            ((window[width - 1] = arriving[vectors * m + k],
              x[k] = x[k] + loadlanes<vector>(window + width - 1 - m), step<at, corrected, k>(bottom - k, x)),
             ...);
        } else {
            (step<at, corrected, k>(bottom - k, x), ...);
        }
    }


    // A chunk of V steps at an edge. In floats, while a pass of the chunk
    // is on a cell past the bias form's range, with the corrected
    // division; never where the chunk reaches below cell 0 (the cells
    // there are few).
    template <edges at>
    [[gnu::always_inline]] void chunk(std::int32_t bottom, vector* x)
    {
        const auto steps = std::make_integer_sequence<int, vectors>();
        constexpr bool mayneedcorrection = std::is_same_v<scalar, float> && at == edges::top;
        if (mayneedcorrection && bottom + passes - 1 > floatdivide::lastbiascell) {
            unrolled<at, mayneedcorrection>(bottom, x, steps);
        } else {
            unrolled<at, false>(bottom, x, steps);
        }
    }
};

// Runs `passes` passes over the region, pass p bringing carriesin[p]
// (null: nothing) into its top cell and its carry out of the bottom one
// going to carries[p].
template <typename vector, int vectors, typename division>
[[gnu::always_inline]] inline void runpasses(const variants::cellregion<scalarof<vector>>& region,
                                             const double* carriesin, double* carries, const fusedpass& pass)
{
    typedef scalarof<vector> scalar;
    typedef batch<vector, vectors, division> passbatch;
    constexpr int width = passbatch::width;
    constexpr std::int32_t passes = passbatch::passes;
    const std::int32_t cellcount = region.count;
    if (cellcount == 0) {
        std::fill(carries, carries + passes, 0.0);
        return;
    }

    scalar arriving[passes];
    for (std::int32_t p = 0; p < passes; ++p) {
        // The top cell's multiplier is the region's end.
        arriving[p] = carriesin != nullptr ? scalar(carriesin[p] * (region.lowest + cellcount)) : scalar(0);
    }
    typename passbatch::ringslot ring[vectors];
    passbatch state{region.cells,
                    region.reciprocals,
                    cellcount,
                    ring,
                    scalar(0),
                    scalar(pass.power),
                    // Floats divide with their own forms' bias.
                    (std::is_same_v<scalar, float> ? scalar(floatdivide::bias) : scalar(pass.bias)) - vector{},
                    scalar(region.lowest + 1),
                    scalar(2 * region.lowest + 1),
                    arriving};
    // The ring stays in memory (L1): hidden from the compiler's scalar
    // replacement, which would shuttle it between registers and the stack.
    __asm__("" : "+r"(state.ring));

    // Pass p starts on cell top + p: only pass 0 on a real cell; the
    // others meet zero cells above the top with zero carries until they
    // come down to it. Indices are the region's own, numbers the cells'.
    std::int32_t bottom = cellcount - 1;
    vector x[vectors];
    for (int i = 0; i < vectors; ++i) {
        for (int l = 0; l < width; ++l) {
            const std::int32_t j = bottom + vectors * l + i;
            x[i][l] = state.ten * state.cellat(j);
            ring[i].reciprocal[l] = state.reciprocalat(j);
            ring[i].multiplier[l] = scalar(j >= 0 ? region.lowest + j + 1 : 1);
            ring[i].divisor[l] = scalar(j >= 0 ? 2 * (region.lowest + j) + 1 : 1);
        }
    }
    // Every pass is below cell 0 after cellcount + P - 1 steps; the steps
    // past that, to a whole number of chunks, pass the carries on. A chunk
    // checks only the ends it may pass: the top while the last pass is
    // above the cells, cell 0 once the cells entering reach below it. Once
    // the last pass is on the cells it stays there.
    std::int32_t steps = cellcount + passes - 1;
    for (; steps > 0 && bottom > cellcount - passes; steps -= vectors, bottom -= vectors) {
        if (bottom - vectors >= 0) {
            state.template chunk<edges::top>(bottom, x);
        } else {
            state.template chunk<edges::both>(bottom, x);
        }
    }
    // The body of the run, in floats first with the corrected division
    // while a pass is past the bias form's range: a loop of its own, so
    // that each loop is one division's straight code.
    const auto body = std::make_integer_sequence<int, vectors>();
    if constexpr (std::is_same_v<scalar, float>) {
        for (; steps > 0 && bottom - vectors >= 0 && bottom + passes - 1 > floatdivide::lastbiascell;
             steps -= vectors, bottom -= vectors) {
            state.template unrolled<edges::none, true>(bottom, x, body);
        }
    }
    for (; steps > 0 && bottom - vectors >= 0; steps -= vectors, bottom -= vectors) {
        state.template unrolled<edges::none, false>(bottom, x, body);
    }
    for (; steps > 0; steps -= vectors, bottom -= vectors) {
        state.template chunk<edges::bottom>(bottom, x);
    }
    // Every pass has left cell 0 by now, and below it x is 10^k * 0 +
    // carry * 1: each pass's carry.
    for (int i = 0; i < vectors; ++i) {
        for (int l = 0; l < width; ++l) {
            carries[vectors * l + i] = x[i][l];
        }
    }
}

// A whole batch: the rotated passes run one group of V W after another
// until batchpasses passes are done, each by pass.power, pass p bringing
// carriesin[p] and its carry out of the region going to carries[p].
template <typename vector, int vectors, typename division>
[[gnu::always_inline]] inline void runbatch(const variants::cellregion<scalarof<vector>>& region,
                                            const double* carriesin, double* carries, const fusedpass& pass)
{
    constexpr std::int32_t passes = vectors * widthof<vector>;
    static_assert(batchpasses % passes == 0);
    for (std::int32_t first = 0; first < batchpasses; first += passes) {
        runpasses<vector, vectors, division>(region, carriesin != nullptr ? carriesin + first : nullptr,
                                             carries + first, pass);
    }
}

}  // namespace generator::rotated
