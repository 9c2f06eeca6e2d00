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

    struct ringslot {
        vector reciprocal, multiplier, divisor;
    };

    // Padded on both sides (passbatch.h): the steps that reach past an end
    // meet zero cells, and below cell 0 reciprocals of 1.
    static constexpr bool tabled = division::tabled;
    double* __restrict cells;
    const double* __restrict reciprocals;
    ringslot* ring;
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
    [[gnu::always_inline]] void step(std::int32_t bottom, vector* x, double enteringreciprocal)
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
        cells[bottom + passes - 1] = left[width - 1];
        const vector entered = shiftup(left, cells[bottom - 1]);
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
        // Step k takes in cell bottom - k - 1.
        if constexpr (tabled) {
            (step<belowzero, k>(bottom - k, x, reciprocals[bottom - k - 1]), ...);
        } else {
            alignas(64) double entering[vectors];
            for (int v = 0; v < vectors; v += width) {
                const vector some = reciprocalsdown(bottom - 1 - v);
                std::memcpy(entering + v, &some, sizeof some);
            }
            (step<belowzero, k>(bottom - k, x, entering[k]), ...);
        }
    }
};

// A whole batch: V W passes over the cells, each by pass.power, the carry
// pass p hands out of cell 0 going to carries[p].
template <typename vector, int vectors, typename division>
[[gnu::always_inline]] inline void runbatch(const variants::cells& cells, double* carries, const fusedpass& pass)
{
    typedef batch<vector, vectors, division> passbatch;
    constexpr int width = passbatch::width;
    constexpr std::int32_t passes = passbatch::passes;
    const std::int32_t cellcount = cells.count;
    typename passbatch::ringslot ring[vectors];
    static_assert(passes <= batchpasses, "a batch runs more passes than a spigot keeps digits for");
    static_assert(passes + vectors <= batchpadding, "a batch reaches past the padding");
    passbatch state{cells.values, cells.reciprocals, ring, pass.power, division::constant(pass.bias)};
    // The ring stays in memory (L1): hidden from the compiler's scalar
    // replacement, which would shuttle it between registers and the stack.
    __asm__("" : "+r"(state.ring));

    // Pass p starts on cell top + p: only pass 0 on a real cell; the
    // others meet zero cells above the top with zero carries until they
    // come down to it.
    std::int32_t bottom = cellcount - 1;
    vector x[vectors];
    for (int i = 0; i < vectors; ++i) {
        for (int l = 0; l < width; ++l) {
            const std::int32_t j = bottom + vectors * l + i;
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
    // Every pass is below cell 0 after cellcount + P - 1 steps; the steps
    // past that, to a whole number of chunks, pass the carries on. Only
    // the chunks whose entering cells reach below cell 0 clamp numbers.
    const auto chunk = std::make_integer_sequence<int, vectors>();
    std::int32_t steps = cellcount + passes - 1;
    for (; steps > 0 && bottom - vectors >= 0; steps -= vectors, bottom -= vectors) {
        state.template unrolled<false>(bottom, x, chunk);
    }
    for (; steps > 0; steps -= vectors, bottom -= vectors) {
        state.template unrolled<true>(bottom, x, chunk);
    }
    // Every pass has left cell 0 by now, and below it x is 10^k * 0 +
    // carry * 1: each pass's carry.
    for (int i = 0; i < vectors; ++i) {
        for (int l = 0; l < width; ++l) {
            carries[vectors * l + i] = x[i][l];
        }
    }
}

}  // namespace generator::rotated
