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
// Cells are 32-bit integers in memory (passbatch.h): the V cells entering
// in a chunk of V steps are widened to doubles at its start, and the V
// leaving narrowed at the next one's (read back at once, they would wait
// on W stores each), a few vector conversions a chunk. A batch
// stops at the end of any chunk and goes on from there, its values in
// flight and its ring kept in its batchrun, so that several batches can
// take turns over a block of cells that stays in the cache.
//
// Vectors are the compiler's vector types of doubles (GCC and Clang),
// whose values stay in registers; each function is inlined into a variant
// built for its instruction set (variants/), which brings its own division
// with that set's floor instruction. Below cell 0 every number is 1,
// which passes the carry leaving it on unchanged to the end (cell 0's own
// numbers are already 1).

#include <cstdint>
#include <cstring>
#include <utility>

#include "passbatch.h"
#include "variants/variants.h"

namespace generator::rotated {

template <typename vector>
inline constexpr int widthof = sizeof(vector) / sizeof(double);

// W lanes from memory, which need not be aligned.
template <typename vector>
[[gnu::always_inline]] inline vector loadlanes(const double* p)
{
    vector v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Lanes 0 to W - 1 of v become `entering`, v[0], ..., v[W - 2].
template <typename vector, std::size_t... l>
[[gnu::always_inline]] inline vector shiftup(const vector& v, double entering, std::index_sequence<l...>)
{
    const vector in = entering - vector{};  // x - 0 is x, so this is a broadcast
    return __builtin_shufflevector(v, in, (l == 0 ? widthof<vector> : int(l) - 1)...);
}

template <typename vector>
[[gnu::always_inline]] inline vector shiftup(const vector& v, double entering)
{
    return shiftup(v, entering, std::make_index_sequence<widthof<vector>>());
}

// v where it is a number of a cell (at least 1), 1 below cell 0.
template <typename vector>
[[gnu::always_inline]] inline vector oneifbelow(const vector& v)
{
    const vector one = vector{} + 1.0;
    return v >= one ? v : one;
}

// A division, which each variant brings: quotient(x, reciprocal, constant)
// is floor(x / d) lane by lane, given reciprocal = 1 / d rounded as its
// form wants, for the values of a pass, and constant(bias) is the vector
// it takes: the bias, or what it rounds against (the forms are in
// passbatch.h). With `tabled` it reads the reciprocals from the spigot's
// table; otherwise reciprocals(d) works out a vector of them, for the V
// cells that enter in a chunk of V steps at its start: V / W vector
// divisions beside V^2 vector updates, where a scalar one in every step
// cost about 5%. (A vector floor has no portable spelling for these types,
// hence the variants' intrinsics.)

// A division over arrays, for tests; count is a multiple of the width.
template <typename vector, typename division>
[[gnu::always_inline]] inline void dividelanes(const double* x, const double* reciprocals, double* quotients,
                                               std::int32_t count, double bias)
{
    const vector biases = division::constant(bias);
    for (std::int32_t i = 0; i < count; i += widthof<vector>) {
        const vector q = division::quotient(loadlanes<vector>(x + i), loadlanes<vector>(reciprocals + i), biases);
        std::memcpy(quotients + i, &q, sizeof q);
    }
}


template <typename vector, int vectors, typename division>
struct batch {
    static constexpr int width = widthof<vector>;
    static constexpr std::int32_t passes = vectors * width;
    static_assert(vectors % width == 0, "a chunk's entering cells fill whole vectors");
    // W cells as they are in memory.
    typedef std::int32_t cellvector __attribute__((vector_size(width * sizeof(std::int32_t))));

    struct ringslot {
        vector reciprocal, multiplier, divisor;
    };

    // Padded on both sides (passbatch.h): the steps that reach past an end
    // meet zero cells, and below cell 0 reciprocals of 1.
    static constexpr bool tabled = division::tabled;
    std::int32_t* __restrict cells;
    const double* __restrict reciprocals;
    ringslot* ring;
    // The cells the chunk before handed out, for the next to narrow.
    double* leaving;
    // What every pass multiplies a cell by, 10^k, and its division's
    // constant.
    double ten;
    vector bias;

    // The reciprocals of cells top, top - 1, ..., top - W + 1: of their
    // divisors 2j + 1, or 1 below cell 0.
    static vector reciprocalsdown(std::int32_t top)
    {
        vector down;  // 0, -2, ..., -2 (W - 1), a constant
        for (int l = 0; l < width; ++l) {
            down[l] = -2.0 * l;
        }
        return division::reciprocals(oneifbelow((2.0 * top + 1.0) + down));
    }

    // Step k of V at `bottom`: logical vector i sits in slot (i - k) mod V.
    // x[i] holds what vector i divides at this step, 10^k * cell + carry *
    // multiplier, and leaves what it divides at the next, formed from the
    // remainder vector i - 1 has just left and vector i's own quotient: so
    // only one vector per pass group waits in registers between steps.
    // belowzero: the cells entering reach below cell 0, and the numbers
    // that come with them clamp at 1.
    template <bool belowzero, int k>
    [[gnu::always_inline]] void step(vector* x, double enteringcell, double enteringreciprocal, double* leaving)
    {
        vector left{}, firstquotient{};
#pragma GCC unroll 16
        for (int i = 0; i < vectors; ++i) {
            const int s = (i - k + vectors) % vectors;
            const vector q = division::quotient(x[i], ring[s].reciprocal, bias);
            const vector remainder = x[i] - q * ring[s].divisor;
            if (i == 0) {
                firstquotient = q;
            } else {
                // The slot vector i - 1 used is vector i's at the next step.
                const int next = (i - 1 - k + vectors) % vectors;
                x[i] = left * ten + q * ring[next].multiplier;
            }
            left = remainder;
        }
        // Vector V - 1's top lane is the last pass's: that cell is final
        // (in the padding, a zero stays zero).
        const int out = (vectors - 1 - k + vectors) % vectors;
        *leaving = left[width - 1];
        const vector entered = shiftup(left, enteringcell);
        ringslot& renewed = ring[out];
        renewed.reciprocal = shiftup(renewed.reciprocal, enteringreciprocal);
        // The slot's cells are now V lower; below cell 0 (only while
        // draining) numbers clamped at 1 stay 1.
        renewed.multiplier = renewed.multiplier - double(vectors);
        renewed.divisor = renewed.divisor - double(2 * vectors);
        if (belowzero) {
            renewed.multiplier = oneifbelow(renewed.multiplier);
            renewed.divisor = oneifbelow(renewed.divisor);
        }
        x[0] = entered * ten + firstquotient * renewed.multiplier;
    }

    template <bool belowzero, int... k>
    [[gnu::always_inline]] void unrolled(std::int32_t bottom, vector* x, std::integer_sequence<int, k...>)
    {
        // Step k takes in cell bottom - k - 1 and hands out cell bottom +
        // P - 1 - k: each a cell of the V in a row below the chunk and the
        // V at its top, widened and narrowed together. Both rows stay in
        // memory, like the ring: in registers they would crowd out the x
        // values.
        alignas(64) double enteringcells[vectors];
        double* entering = enteringcells;
        __asm__("" : "+r"(entering));
        narrowleaving(bottom);
        widen(cells + bottom - vectors, entering);
        if constexpr (tabled) {
            (step<belowzero, k>(x, entering[vectors - 1 - k], reciprocals[bottom - k - 1], leaving + vectors - 1 - k),
             ...);
        } else {
            alignas(64) double enteringreciprocals[vectors];
            for (int v = 0; v < vectors; v += width) {
                const vector some = reciprocalsdown(bottom - 1 - v);
                std::memcpy(enteringreciprocals + v, &some, sizeof some);
            }
            (step<belowzero, k>(x, entering[vectors - 1 - k], enteringreciprocals[k], leaving + vectors - 1 - k), ...);
        }
    }

    // The cells the chunk before the one at `bottom` handed out.
    [[gnu::always_inline]] void narrowleaving(std::int32_t bottom)
    {
        for (int v = 0; v < vectors; v += width) {
            const cellvector narrowed = __builtin_convertvector(loadlanes<vector>(leaving + v), cellvector);
            std::memcpy(cells + bottom + passes + v, &narrowed, sizeof narrowed);
        }
    }

    // What the first chunk narrows is already there: finished cells, which
    // no batch writes again.
    [[gnu::always_inline]] void startleaving(std::int32_t bottom) { widen(cells + bottom + passes, leaving); }

    // V cells from memory as doubles.
    [[gnu::always_inline]] static void widen(const std::int32_t* from, double* to)
    {
        for (int v = 0; v < vectors; v += width) {
            cellvector some;
            std::memcpy(&some, from + v, sizeof some);
            const vector widened = __builtin_convertvector(some, vector);
            std::memcpy(to + v, &widened, sizeof widened);
        }
    }
};

// Advances a batch of V W passes, each by pass.power, down the cells by
// whole chunks while it reads none below `lowest`; at its end, the carry
// pass p hands out of cell 0 goes to run.carries[p].
template <typename vector, int vectors, typename division>
[[gnu::always_inline]] inline void advancebatch(const variants::cells& cells, batchrun& run, std::int32_t lowest,
                                                const fusedpass& pass)
{
    typedef batch<vector, vectors, division> passbatch;
    typedef typename passbatch::ringslot ringslot;
    constexpr int width = passbatch::width;
    constexpr std::int32_t passes = passbatch::passes;
    const std::int32_t cellcount = cells.count;
    static_assert(passes <= batchpasses, "a batch runs more passes than a spigot keeps digits for");
    static_assert(passes + vectors <= batchpadding, "a batch reaches past the padding");
    static_assert(sizeof(ringslot) * vectors <= sizeof run.ring && alignof(ringslot) <= alignof(batchrun),
                  "the batch's state fits its run");
    alignas(64) double leaving[vectors];
    passbatch state{cells.values, cells.reciprocals, reinterpret_cast<ringslot*>(run.ring.data()), leaving,
                    pass.power, division::constant(pass.bias)};
    // The ring and the cells leaving stay in memory (L1): hidden from the
    // compiler's scalar replacement, which would shuttle them between
    // registers and the stack.
    __asm__("" : "+r"(state.ring), "+r"(state.leaving));
    ringslot* const ring = state.ring;

    vector x[vectors];
    if (!run.started) {
        // Pass p starts on cell top + p: only pass 0 on a real cell; the
        // others meet zero cells above the top with zero carries until
        // they come down to it.
        run.bottom = cellcount - 1;
        if (run.bottom < lowest) {
            return;
        }
        for (int i = 0; i < vectors; ++i) {
            for (int l = 0; l < width; ++l) {
                const std::int32_t j = run.bottom + vectors * l + i;
                x[i][l] = state.ten * cells.values[j];
                ring[i].multiplier[l] = j >= 0 ? j + 1 : 1;
                ring[i].divisor[l] = j >= 0 ? 2 * j + 1 : 1;
                if constexpr (passbatch::tabled) {
                    ring[i].reciprocal[l] = cells.reciprocals[j];
                }
            }
            if constexpr (!passbatch::tabled) {
                ring[i].reciprocal = division::reciprocals(ring[i].divisor);
            }
        }
        // Every pass is below cell 0 after cellcount + P - 1 steps; the
        // steps past that, to a whole number of chunks, pass the carries
        // on.
        run.stepsleft = cellcount + passes - 1;
        run.started = true;
    } else {
        for (int i = 0; i < vectors; ++i) {
            x[i] = loadlanes<vector>(run.inflight.data() + i * width);
        }
    }
    // Only the chunks whose entering cells reach below cell 0 clamp
    // numbers.
    const auto chunk = std::make_integer_sequence<int, vectors>();
    std::int32_t bottom = run.bottom;
    std::int32_t steps = run.stepsleft;
    state.startleaving(bottom);
    for (; steps > 0 && bottom - vectors >= 0 && bottom - vectors >= lowest; steps -= vectors, bottom -= vectors) {
        state.template unrolled<false>(bottom, x, chunk);
    }
    for (; steps > 0 && bottom - vectors >= lowest; steps -= vectors, bottom -= vectors) {
        state.template unrolled<true>(bottom, x, chunk);
    }
    state.narrowleaving(bottom);
    run.bottom = bottom;
    run.stepsleft = steps;
    if (steps > 0) {
        for (int i = 0; i < vectors; ++i) {
            std::memcpy(run.inflight.data() + i * width, &x[i], sizeof x[i]);
        }
        return;
    }
    // Every pass has left cell 0 by now, and below it x is 10^k * 0 +
    // carry * 1: each pass's carry.
    for (int i = 0; i < vectors; ++i) {
        for (int l = 0; l < width; ++l) {
            run.carries[vectors * l + i] = x[i][l];
        }
    }
    run.done = true;
}

}  // namespace generator::rotated
