#ifndef BUFFER_KERNELS_ROTATEDBATCH_H
#define BUFFER_KERNELS_ROTATEDBATCH_H

/* The batch loop of the vector kernels, written once over a set of lane
   operations, in rotated lanes.

   With V vectors of W lanes in flight, lane l of vector i runs pass V l + i.
   At each step pass p works on cell bottom + p, and the cell it leaves is
   the one pass p + 1 takes at the next step: the same lane of the next
   vector. So cells move between vectors by renaming registers; only the
   cells leaving vector V - 1 move up one lane into vector 0, where an
   untouched cell enters lane 0 (and the top lane, which pass P - 1 has
   finished, is stored).

   A cell keeps its number while it travels, so its reciprocal, multiplier
   and divisor travel with it: a ring of V slots per kind, one slot
   replaced per step. Unrolled V steps at a time, every slot a cell or a
   ring entry sits in is known when compiling, and nothing is moved that
   is not a cell entering or leaving. The reciprocal of the one cell that
   enters per step is worked out then (a scalar division beside V vector
   updates), so memory is the cells alone: 8 bytes a cell in doubles, 4
   in floats.

   Pass p multiplies by powers[p] = 10^k, running k spigot passes in one
   (exactdivision.h); floats hold only k = 1. A batch whose passes all
   multiply alike keeps the power in a register; one that does not (the
   last of a run whose count is not a multiple of k) reads each vector's
   powers from memory, beside its ring slots.

   A kernel runs the region of its own precision (spigotbatch.h): the
   float cells [0, crossing) or the double cells [crossing, cellcount).
   Carries only flow down, so a region above hands the one below one
   carry per pass: pass p arrives at the top cell at step p, and its x
   there gains carriesin[p] times the top cell's multiplier. Below the
   region's bottom cell every number is 1, which passes the carry leaving
   that cell on unchanged to the end (cell 0's own numbers are already 1).

   Include it only from a kernel file. Everything here has internal
   linkage, so each file keeps its own copy, built for its own instruction
   set; a shared copy could run AVX-512 code on a processor without it. */

#include <stdint.h>

#include <type_traits>
#include <utility>

#include "floatdivision.h"
#include "kernels.h"

namespace {

/* lanes supplies: vector, scalar (double, or float for single-precision
   lanes, which serve only cells whose values all fit a float), width,
   load, store, broadcast, add, mul, min, max, fmadd, fnmadd, quotient(x,
   reciprocal, bias): the division with a bias alone, with an FMA
   (exactdivision.h, floatdivision.h), rotateup(v, entering): entering in
   lane 0, then v's lanes but its top one, and storetop(p, v).
   Single-precision lanes also supply correcteddivide(x, reciprocal,
   divisor, q, r), exact for the cells past the bias form's range.

   The values in flight are locals whose address never escapes, so that
   they stay in registers: a vector type may alias any scalar of its type, and every
   store to the cell array would otherwise force them to memory. */

/* Which division a chunk of steps uses: the bias form, or the corrected
   one while some pass of the chunk is on a cell past the bias form's
   range (single precision only). */
enum division { biased, corrected };

template <typename scalar>
scalar* cellsof(struct spigotbatch* batch);
template <>
inline double* cellsof<double>(struct spigotbatch* batch) { return batch->cells; }
template <>
inline float* cellsof<float>(struct spigotbatch* batch) { return batch->floatcells; }

/* A quotient and its remainder, x = q d + r, in the given form. */
template <typename lanes, division form>
[[gnu::always_inline]] inline void dividewith(typename lanes::vector x, typename lanes::vector reciprocal,
                                              typename lanes::vector divisor, typename lanes::vector bias,
                                              typename lanes::vector& q, typename lanes::vector& r)
{
    if constexpr (form == corrected) {
        lanes::correcteddivide(x, reciprocal, divisor, q, r);
    } else {
        q = lanes::quotient(x, reciprocal, bias);
        r = lanes::fnmadd(q, divisor, x);
    }
}

/* uniform: every pass multiplies by the same power, held in a register. */
template <typename lanes, int vectors, bool uniform>
struct rotated {
    typedef typename lanes::vector vector;
    typedef typename lanes::scalar scalar;
    enum { width = lanes::width, passes = vectors * width };

    struct alignas(64) ringslot {
        scalar reciprocal[width];
        scalar multiplier[width];
        scalar divisor[width];
    };

    /* The constants of a batch and the ring its cells' numbers travel in. */
    struct context {
        scalar* cells;
        /* The region's first cell's number. */
        int32_t lowest;
        vector zero, one, ten, bias, minusvectors, minustwicevectors;
        /* Without a uniform power, vector i's lanes' powers at tens + i W. */
        const scalar* tens;
        /* Minus the numbers of the cell below the region's bottom: a
           number plus these is at least 1 on the region's cells. */
        vector belowmultiplier, belowdivisor;
        ringslot* ring;
    };

    /* What vector i's passes multiply a cell by. */
    [[gnu::always_inline]] static vector tenof(const context& c, int i)
    {
        if constexpr (uniform) {
            return c.ten;
        } else {
            return lanes::load(c.tens + i * width);
        }
    }

    /* The reciprocal of the region's cell `index`, rounded once as a
       table would hold it; 1 below the region, where the divisor is 1. */
    [[gnu::always_inline]] static scalar reciprocalat(const context& c, int32_t index)
    {
        const scalar divisor = (scalar)(2 * (c.lowest + index) + 1);
        return index >= 0 ? (scalar)1 / divisor : (scalar)1;
    }

    /* n on the region's cells, 1 below them: n + below is at least 1
       there and at most 0 below, so min(max(n + below, 0), 1) tells
       which. */
    [[gnu::always_inline]] static vector oneifbelow(const context& c, vector n, vector below)
    {
        const vector onregion = lanes::min(lanes::max(lanes::add(n, below), c.zero), c.one);
        return lanes::fmadd(onregion, lanes::add(n, lanes::broadcast(-1)), c.one);
    }

    /* The slot's lanes hold cells V lower than the last time it was set,
       so its numbers fall by V and 2V: two adds instead of building them
       from the cell number. A number set to 1 below the region stays 1,
       as it should, since numbers only fall. */
    template <bool clamp>
    [[gnu::always_inline]] static void lowernumbers(context& c, int slot)
    {
        vector multiplier = lanes::add(lanes::load(c.ring[slot].multiplier), c.minusvectors);
        vector divisor = lanes::add(lanes::load(c.ring[slot].divisor), c.minustwicevectors);
        if (clamp) {
            multiplier = oneifbelow(c, multiplier, c.belowmultiplier);
            divisor = oneifbelow(c, divisor, c.belowdivisor);
        }
        lanes::store(c.ring[slot].multiplier, multiplier);
        lanes::store(c.ring[slot].divisor, divisor);
    }

    /* Step k of V at `bottom`: logical vector i sits in slot (i - k) mod V.
       x[i] holds what vector i divides at this step, 10 * cell + carry *
       multiplier, and leaves what it divides at the next: the remainder
       vector i - 1 has just left and vector i's own quotient. So a
       vector's cell and carry never wait in registers between steps, only
       one x per vector does. */
    template <bool clamp, division form, int k>
    [[gnu::always_inline]] static void step(context& c, int32_t bottom, vector* x)
    {
        vector left, firstquotient;
#pragma GCC unroll 16
        for (int i = 0; i < vectors; ++i) {
            const int s = (i - k + vectors) % vectors;
            vector q, remainder;
            dividewith<lanes, form>(x[i], lanes::load(c.ring[s].reciprocal), lanes::load(c.ring[s].divisor), c.bias,
                                    q, remainder);
            if (i == 0) {
                firstquotient = q;
            } else {
                /* The slot vector i - 1 used is vector i's at the next step. */
                const int next = (i - 1 - k + vectors) % vectors;
                x[i] = lanes::fmadd(left, tenof(c, i), lanes::mul(q, lanes::load(c.ring[next].multiplier)));
            }
            left = remainder;
        }
        /* The last vector's cells go up a lane into vector 0; its top lane
           is pass P - 1's, final. */
        const int out = (vectors - 1 - k + vectors) % vectors;
        lanes::storetop(c.cells + bottom + passes - 1, left);
        const vector entered = lanes::rotateup(left, c.cells[bottom - 1]);
        lanes::store(c.ring[out].reciprocal,
                     lanes::rotateup(lanes::load(c.ring[out].reciprocal), reciprocalat(c, bottom - 1)));
        lowernumbers<clamp>(c, out);
        x[0] = lanes::fmadd(entered, tenof(c, 0),
                            lanes::mul(firstquotient, lanes::load(c.ring[out].multiplier)));
    }

    template <bool clamp, division form, int... k>
    [[gnu::always_inline]] static void unrolled(context& c, int32_t bottom, vector* x,
                                                std::integer_sequence<int, k...>)
    {
        (step<clamp, form, k>(c, bottom - k, x), ...);
    }

    /* Chunk m of the first W, which bring pass V m + k to the top cell at
       its step k: lane m of vector k gains that pass's carry from above.
       A one-lane vector is a load from a window of zeros around it. The
       chunks run with the clamp and the division every cell takes, as
       they may reach below the region or past the bias form's range. */
    template <int... k>
    [[gnu::always_inline]] static void entering(context& c, int32_t bottom, vector* x, int m,
                                                const scalar* carries, std::integer_sequence<int, k...>)
    {
        scalar window[2 * width - 1] = {};
        constexpr division form = std::is_same_v<scalar, float> ? corrected : biased;
        ((window[width - 1] = carries[vectors * m + k],
          x[k] = lanes::add(x[k], lanes::load(window + width - 1 - m)),
          step<true, form, k>(c, bottom - k, x)),
         ...);
    }
};

/* The region of the batch's cells in the given precision: its cells,
   first cell and number of cells. The floats are cells [0, crossing), the
   doubles the rest. */
template <typename scalar>
struct region {
    scalar* cells;
    int32_t lowest, count;
    explicit region(struct spigotbatch* batch)
        : cells(cellsof<scalar>(batch)), lowest(std::is_same_v<scalar, float> ? 0 : batch->crossing),
          count(std::is_same_v<scalar, float> ? batch->crossing : batch->cellcount - batch->crossing)
    {
    }
};

/* Runs P passes over the region, as runrotatedbatch() below says, with
   the context's constants set. */
template <typename lanes, int vectors, bool uniform>
void runregion(typename rotated<lanes, vectors, uniform>::context& c, const region<typename lanes::scalar>& cells,
               const double* carriesin, double* carriesout)
{
    typedef rotated<lanes, vectors, uniform> batchloop;
    typedef typename batchloop::vector vector;
    typedef typename batchloop::scalar scalar;
    enum { width = lanes::width, passes = batchloop::passes };
    const auto chunk = std::make_integer_sequence<int, vectors>();
    typename batchloop::ringslot ring[vectors];
    c.ring = ring;
    /* The ring stays in memory (L1): hidden from the compiler's scalar
       replacement, which would copy it between registers and the stack. */
    __asm__("" : "+r"(c.ring));

    /* Pass V l + i starts on cell top + V l + i: only pass 0 on a real
       cell; the others meet zero cells above the top with zero carries
       until they come down to it. Indices are the region's own, numbers
       the cells' own. */
    int32_t bottom = cells.count - 1;
    vector x[vectors];
    for (int i = 0; i < vectors; ++i) {
        scalar cell[width];
        for (int l = 0; l < width; ++l) {
            /* Cell j's multiplier is j + 1 and its divisor 2j + 1; below
               the region both are 1, which passes a carry on unchanged. */
            const int32_t j = bottom + vectors * l + i;
            const int32_t number = cells.lowest + j;
            cell[l] = c.cells[j];
            c.ring[i].reciprocal[l] = batchloop::reciprocalat(c, j);
            c.ring[i].multiplier[l] = (scalar)(j >= 0 ? number + 1 : 1);
            c.ring[i].divisor[l] = (scalar)(j >= 0 ? 2 * number + 1 : 1);
        }
        x[i] = lanes::mul(lanes::load(cell), batchloop::tenof(c, i));
    }

    /* Every pass is below the region after count + P - 1 steps; the steps
       past that, to a whole number of chunks, pass the carries on. While
       every slot made holds cells of the region, nothing needs clamping.
       In single precision, the chunks with a pass on a cell past the bias
       form's range divide with the correction; the cells enter from the
       top, so those chunks come first. */
    int32_t steps = (cells.count + passes - 1 + vectors - 1) / vectors * vectors;
    if constexpr (uniform) {
        if (carriesin != NULL && cells.count > 0) {
            /* The region's top cell multiplies what enters it by its
               multiplier, the region's end. */
            scalar arriving[passes];
            for (int p = 0; p < passes; ++p) {
                arriving[p] = (scalar)(carriesin[p] * (cells.lowest + cells.count));
            }
            for (int m = 0; m < width; ++m, steps -= vectors, bottom -= vectors) {
                batchloop::entering(c, bottom, x, m, arriving, chunk);
            }
        }
    }
    if constexpr (std::is_same_v<scalar, float>) {
        for (; steps > 0 && bottom - vectors >= 0 && bottom + passes - 1 > FLOATDIVISION_LASTBIASCELL;
             steps -= vectors, bottom -= vectors) {
            batchloop::template unrolled<false, corrected>(c, bottom, x, chunk);
        }
    }
    for (; steps > 0 && bottom - vectors >= 0; steps -= vectors, bottom -= vectors) {
        batchloop::template unrolled<false, biased>(c, bottom, x, chunk);
    }
    for (; steps > 0; steps -= vectors, bottom -= vectors) {
        batchloop::template unrolled<true, biased>(c, bottom, x, chunk);
    }

    /* Every pass has left the region by now, and below it x is 10^k * 0 +
       carry * 1: each pass's carry. Lane l of vector i is pass V l + i. */
    for (int i = 0; i < vectors; ++i) {
        scalar lane[width];
        lanes::store(lane, x[i]);
        for (int l = 0; l < width; ++l) {
            carriesout[vectors * l + i] = lane[l];
        }
    }
}

/* Runs P passes over the batch's cells of the lanes' precision, pass p
   by powers->powers[p], starting with carriesin[p] (NULL: none) at the
   region's top cell, and stores in carriesout[p] the carry it hands below
   the bottom one. */
template <typename lanes, int vectors>
void runrotatedbatch(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                     const struct fusedpowers* powers)
{
    typedef typename lanes::scalar scalar;
    enum { width = lanes::width, passes = vectors * width };
    const region<scalar> cells(batch);
    bool uniform = true;
    /* Vector i's lanes are passes V l + i. */
    alignas(64) scalar tens[passes];
    for (int i = 0; i < vectors; ++i) {
        for (int l = 0; l < width; ++l) {
            tens[i * width + l] = (scalar)powers->powers[vectors * l + i];
            uniform = uniform && powers->powers[vectors * l + i] == powers->powers[0];
        }
    }
    const auto setup = [&](auto& c) {
        c.cells = cells.cells;
        c.lowest = cells.lowest;
        c.tens = tens;
        c.zero = lanes::broadcast(0);
        c.one = lanes::broadcast(1);
        c.ten = lanes::broadcast(tens[0]);
        /* Floats divide with their own forms' bias. */
        c.bias = lanes::broadcast(std::is_same_v<scalar, float> ? (scalar)FLOATDIVISION_BIAS : (scalar)powers->bias);
        c.minusvectors = lanes::broadcast(-vectors);
        c.minustwicevectors = lanes::broadcast(-2 * vectors);
        c.belowmultiplier = lanes::broadcast((scalar)-cells.lowest);
        c.belowdivisor = lanes::broadcast((scalar)(-2 * cells.lowest));
    };
    if constexpr (std::is_same_v<scalar, double>) {
        if (!uniform) {
            typename rotated<lanes, vectors, false>::context c;
            setup(c);
            runregion<lanes, vectors, false>(c, cells, carriesin, carriesout);
            return;
        }
    }
    typename rotated<lanes, vectors, true>::context c;
    setup(c);
    runregion<lanes, vectors, true>(c, cells, carriesin, carriesout);
}

template <typename lanes>
void dividelanes(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    for (int32_t i = 0; i < count; i += lanes::width) {
        lanes::store(quotients + i,
                     lanes::quotient(lanes::load(x + i), lanes::load(reciprocals + i), lanes::broadcast(bias)));
    }
}

/* The single-precision division as the batch makes it, quotients and
   remainders, in the bias form or the corrected one. */
template <typename lanes>
void dividefloatlanes(const struct floatdivisions* divisions, int corrected)
{
    for (int32_t i = 0; i < divisions->count; i += lanes::width) {
        typename lanes::vector q, r;
        const typename lanes::vector x = lanes::load(divisions->x + i);
        const typename lanes::vector reciprocal = lanes::load(divisions->reciprocals + i);
        const typename lanes::vector divisor = lanes::load(divisions->divisors + i);
        const typename lanes::vector bias = lanes::broadcast(FLOATDIVISION_BIAS);
        if (corrected) {
            dividewith<lanes, division::corrected>(x, reciprocal, divisor, bias, q, r);
        } else {
            dividewith<lanes, division::biased>(x, reciprocal, divisor, bias, q, r);
        }
        lanes::store(divisions->quotients + i, q);
        lanes::store(divisions->remainders + i, r);
    }
}

}  // namespace

#endif
