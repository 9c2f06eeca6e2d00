#ifndef BUFFER_KERNELS_ROTATEDBATCH_H
#define BUFFER_KERNELS_ROTATEDBATCH_H

/* The batch loop of the vector kernels, written once over a set of lane
   operations on doubles, in rotated lanes.

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
   is not a cell entering or leaving. The reciprocals of the V cells that
   enter in a chunk of V steps are worked out at its start, V / W vector
   divisions beside V^2 vector updates (a scalar division in every step
   cost about 5% where two FMA pipes bind), so memory is the cells alone:
   4 bytes a cell. The V cells entering in a chunk are widened to doubles
   at its start, and the V leaving narrowed at the next one's: a few
   vector conversions a chunk.

   A batch stops at the end of any chunk and goes on from there (its
   values in flight and its ring kept in its batchrun), so that several
   batches can take turns over a block of cells that stays in the cache.

   Pass p multiplies by powers[p] = 10^k, running k spigot passes in one
   (exactdivision.h). A batch whose passes all multiply alike keeps the
   power in a register; one that does not (the last of a run whose count
   is not a multiple of k) reads each vector's powers from memory, beside
   its ring slots.

   Below cell 0 every number is 1, which passes the carry leaving it on
   unchanged to the end (cell 0's own numbers are already 1).

   Include it only from a kernel file. Everything here has internal
   linkage, so each file keeps its own copy, built for its own instruction
   set; a shared copy could run AVX-512 code on a processor without it. */

#include <stdint.h>

#include <utility>

#include "kernels.h"

namespace {

/* lanes supplies: vector, width, load, store, widen (W cells from memory
   as doubles), narrow (W doubles to cells), broadcast, add, mul, min,
   max, fmadd, fnmadd, the division in its form (exactdivision.h):
   quotient(x, reciprocal, constant), the constant for a bias
   (divisionconstant) and the reciprocals of a vector of divisors, each
   rounded as the form wants it (reciprocals(d)); with reciprocal(d) also,
   the scalar one, each step works out its entering cell's itself;
   rotateup(v, entering): entering in lane 0, then v's lanes but its top
   one, and top(v), that lane.

   The values in flight are locals whose address never escapes, so that
   they stay in registers: a vector type may alias any double, and every
   store to the cell array would otherwise force them to memory. */

/* uniform: every pass multiplies by the same power, held in a register. */
template <typename lanes, int vectors, bool uniform>
struct rotated {
    typedef typename lanes::vector vector;
    enum { width = lanes::width, passes = vectors * width };
    static_assert(vectors % width == 0, "a chunk's entering cells fill whole vectors");

    struct alignas(64) ringslot {
        double reciprocal[width];
        double multiplier[width];
        double divisor[width];
    };

    /* The constants of a batch and the ring its cells' numbers travel in. */
    struct context {
        int32_t* cells;
        /* The division's constant: its bias, or what it rounds against. */
        vector zero, one, ten, divisionconstant, minusvectors, minustwicevectors;
        /* 0, -2, ..., -2 (W - 1): the divisors of W cells down from one. */
        vector minustwicelanes;
        /* Without a uniform power, vector i's lanes' powers at tens + i W. */
        const double* tens;
        ringslot* ring;
        /* The cells the chunk before handed out, narrowed at the next
           chunk's start, when their stores have long reached the cache:
           read back at once, they would wait on eight stores each. */
        double* leaving;
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

    static constexpr bool scalarreciprocals = requires { lanes::reciprocal(1.0); };

    /* The reciprocal of cell `index`, by the scalar division; 1 below cell
       0, where the divisor is 1. */
    [[gnu::always_inline]] static double scalarreciprocal(int32_t index)
    {
        return index >= 0 ? lanes::reciprocal((double)(2 * index + 1)) : 1.0;
    }

    /* The reciprocals of cells top, top - 1, ..., top - W + 1 (of their
       divisors 2j + 1, or 1 below cell 0), rounded as the division wants
       them. */
    [[gnu::always_inline]] static vector reciprocalsdown(const context& c, int32_t top)
    {
        const vector divisors = lanes::add(lanes::broadcast(2.0 * top + 1), c.minustwicelanes);
        return lanes::reciprocals(lanes::max(divisors, c.one));
    }

    /* n on the cells, 1 below them: n is at least 1 there and at most 0
       below, so min(max(n, 0), 1) tells which. */
    [[gnu::always_inline]] static vector oneifbelow(const context& c, vector n)
    {
        const vector oncells = lanes::min(lanes::max(n, c.zero), c.one);
        return lanes::fmadd(oncells, lanes::add(n, lanes::broadcast(-1)), c.one);
    }

    /* The slot's lanes hold cells V lower than the last time it was set,
       so its numbers fall by V and 2V: two adds instead of building them
       from the cell number. A number set to 1 below cell 0 stays 1, as it
       should, since numbers only fall. */
    template <bool clamp>
    [[gnu::always_inline]] static void lowernumbers(context& c, int slot)
    {
        vector multiplier = lanes::add(lanes::load(c.ring[slot].multiplier), c.minusvectors);
        vector divisor = lanes::add(lanes::load(c.ring[slot].divisor), c.minustwicevectors);
        if (clamp) {
            multiplier = oneifbelow(c, multiplier);
            divisor = oneifbelow(c, divisor);
        }
        lanes::store(c.ring[slot].multiplier, multiplier);
        lanes::store(c.ring[slot].divisor, divisor);
    }

    /* Step k of V at `bottom`: logical vector i sits in slot (i - k) mod V.
       x[i] holds what vector i divides at this step, 10^k * cell + carry *
       multiplier, and leaves what it divides at the next: the remainder
       vector i - 1 has just left and vector i's own quotient. So a
       vector's cell and carry never wait in registers between steps, only
       one x per vector does. enteringreciprocal is the reciprocal of the
       cell entering, unless the step works it out by the scalar division. */
    template <bool clamp, int k>
    [[gnu::always_inline]] static void step(context& c, int32_t bottom, vector* x, double enteringcell,
                                            double enteringreciprocal, double* leaving)
    {
        vector left, firstquotient;
#pragma GCC unroll 16
        for (int i = 0; i < vectors; ++i) {
            const int s = (i - k + vectors) % vectors;
            const vector q = lanes::quotient(x[i], lanes::load(c.ring[s].reciprocal), c.divisionconstant);
            const vector remainder = lanes::fnmadd(q, lanes::load(c.ring[s].divisor), x[i]);
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
        *leaving = lanes::top(left);
        const vector entered = lanes::rotateup(left, enteringcell);
        if constexpr (scalarreciprocals) {
            enteringreciprocal = scalarreciprocal(bottom - 1);
        }
        lanes::store(c.ring[out].reciprocal, lanes::rotateup(lanes::load(c.ring[out].reciprocal), enteringreciprocal));
        lowernumbers<clamp>(c, out);
        x[0] = lanes::fmadd(entered, tenof(c, 0), lanes::mul(firstquotient, lanes::load(c.ring[out].multiplier)));
    }

    template <bool clamp, int... k>
    [[gnu::always_inline]] static void unrolled(context& c, int32_t bottom, vector* x,
                                                std::integer_sequence<int, k...>)
    {
        /* Step k takes in cell bottom - k - 1 and hands out cell bottom +
           P - 1 - k: each a cell of the V in a row below the chunk and
           the V at its top, widened and narrowed together. */
        alignas(64) double enteringcells[vectors];
        /* Kept in memory, like the ring: in registers they would crowd
           out the x values. */
        double* entering = enteringcells;
        __asm__("" : "+r"(entering));
        double* const leaving = c.leaving;
        narrowleaving(c, bottom);
        for (int v = 0; v < vectors; v += width) {
            lanes::store(entering + v, lanes::widen(c.cells + bottom - vectors + v));
        }
        /* The scalar division stays inside its step: worked out in the
           calls here, the divisions' results wait in registers and crowd
           out the x values (NEON's loop ran a fifth slower in llvm-mca). */
        if constexpr (scalarreciprocals) {
            (step<clamp, k>(c, bottom - k, x, entering[vectors - 1 - k], 0.0, leaving + vectors - 1 - k), ...);
        } else {
            alignas(64) double reciprocals[vectors];
            for (int v = 0; v < vectors; v += width) {
                lanes::store(reciprocals + v, reciprocalsdown(c, bottom - 1 - v));
            }
            (step<clamp, k>(c, bottom - k, x, entering[vectors - 1 - k], reciprocals[k], leaving + vectors - 1 - k),
             ...);
        }
    }

    /* The cells the chunk before the one at `bottom` handed out. */
    [[gnu::always_inline]] static void narrowleaving(context& c, int32_t bottom)
    {
        for (int v = 0; v < vectors; v += width) {
            lanes::narrow(c.cells + bottom + passes + v, lanes::load(c.leaving + v));
        }
    }
};

/* Advances the batch as advancerotatedbatch() below says, with the
   context's constants set. */
template <typename lanes, int vectors, bool uniform>
void advancepasses(typename rotated<lanes, vectors, uniform>::context& c, int32_t cellcount, struct batchrun* run,
                   int32_t lowest)
{
    typedef rotated<lanes, vectors, uniform> batchloop;
    typedef typename batchloop::vector vector;
    typedef typename batchloop::ringslot ringslot;
    enum { width = lanes::width, passes = batchloop::passes };
    static_assert(sizeof(ringslot) * vectors <= sizeof run->ring && passes <= BATCH_PADDING,
                  "the batch's state fits its run");
    const auto chunk = std::make_integer_sequence<int, vectors>();
    c.ring = (ringslot*)run->ring;
    /* The ring stays in memory (L1): hidden from the compiler's scalar
       replacement, which would copy it between registers and the stack. */
    __asm__("" : "+r"(c.ring));

    vector x[vectors];
    if (!run->started) {
        /* Pass V l + i starts on cell top + V l + i: only pass 0 on a
           real cell; the others meet zero cells above the top with zero
           carries until they come down to it. */
        run->bottom = cellcount - 1;
        if (run->bottom < lowest) {
            return;
        }
        for (int i = 0; i < vectors; ++i) {
            double cell[width];
            for (int l = 0; l < width; ++l) {
                /* Cell j's multiplier is j + 1 and its divisor 2j + 1;
                   below cell 0 both are 1, which passes a carry on
                   unchanged. */
                const int32_t j = run->bottom + vectors * l + i;
                cell[l] = c.cells[j];
                c.ring[i].multiplier[l] = j >= 0 ? j + 1 : 1;
                c.ring[i].divisor[l] = j >= 0 ? 2 * j + 1 : 1;
            }
            lanes::store(c.ring[i].reciprocal, lanes::reciprocals(lanes::load(c.ring[i].divisor)));
            x[i] = lanes::mul(lanes::load(cell), batchloop::tenof(c, i));
        }
        /* Every pass is below cell 0 after cellcount + P - 1 steps; the
           steps past that, to a whole number of chunks, pass the carries
           on. */
        run->stepsleft = (cellcount + passes - 1 + vectors - 1) / vectors * vectors;
        run->started = 1;
    } else {
        for (int i = 0; i < vectors; ++i) {
            x[i] = lanes::load(run->inflight + i * width);
        }
    }

    /* What the first chunk narrows is already there: finished cells, which
       no batch writes again. */
    alignas(64) double leaving[vectors];
    c.leaving = leaving;
    __asm__("" : "+r"(c.leaving));
    for (int v = 0; v < vectors; v += width) {
        lanes::store(c.leaving + v, lanes::widen(c.cells + run->bottom + passes + v));
    }

    /* While every slot made holds a cell, nothing needs clamping. */
    int32_t bottom = run->bottom;
    int32_t steps = run->stepsleft;
    for (; steps > 0 && bottom - vectors >= 0 && bottom - vectors >= lowest; steps -= vectors, bottom -= vectors) {
        batchloop::template unrolled<false>(c, bottom, x, chunk);
    }
    for (; steps > 0 && bottom - vectors >= lowest; steps -= vectors, bottom -= vectors) {
        batchloop::template unrolled<true>(c, bottom, x, chunk);
    }
    batchloop::narrowleaving(c, bottom);
    run->bottom = bottom;
    run->stepsleft = steps;
    if (steps > 0) {
        for (int i = 0; i < vectors; ++i) {
            lanes::store(run->inflight + i * width, x[i]);
        }
        return;
    }

    /* Every pass has left the cells by now, and below them x is 10^k * 0
       + carry * 1: each pass's carry. Lane l of vector i is pass V l + i. */
    for (int i = 0; i < vectors; ++i) {
        double lane[width];
        lanes::store(lane, x[i]);
        for (int l = 0; l < width; ++l) {
            run->carries[vectors * l + i] = lane[l];
        }
    }
    run->done = 1;
}

/* Advances a batch of P passes, pass p by run->powers[p], down the cells
   by whole chunks while it reads none below `lowest`; at its end, stores
   in run->carries[p] the carry pass p hands out of cell 0. */
template <typename lanes, int vectors>
void advancerotatedbatch(struct spigotbatch* batch, struct batchrun* run, int32_t lowest)
{
    enum { width = lanes::width, passes = vectors * width };
    bool uniform = true;
    /* Vector i's lanes are passes V l + i. */
    alignas(64) double tens[passes];
    for (int i = 0; i < vectors; ++i) {
        for (int l = 0; l < width; ++l) {
            tens[i * width + l] = run->powers[vectors * l + i];
            uniform = uniform && run->powers[vectors * l + i] == run->powers[0];
        }
    }
    const auto setup = [&](auto& c) {
        c.cells = batch->cells;
        c.tens = tens;
        c.zero = lanes::broadcast(0);
        c.one = lanes::broadcast(1);
        c.ten = lanes::broadcast(tens[0]);
        c.divisionconstant = lanes::divisionconstant(run->bias);
        c.minusvectors = lanes::broadcast(-vectors);
        c.minustwicevectors = lanes::broadcast(-2 * vectors);
        double minustwicelanes[width];
        for (int l = 0; l < width; ++l) {
            minustwicelanes[l] = -2.0 * l;
        }
        c.minustwicelanes = lanes::load(minustwicelanes);
    };
    if (!uniform) {
        typename rotated<lanes, vectors, false>::context c;
        setup(c);
        advancepasses<lanes, vectors, false>(c, batch->cellcount, run, lowest);
        return;
    }
    typename rotated<lanes, vectors, true>::context c;
    setup(c);
    advancepasses<lanes, vectors, true>(c, batch->cellcount, run, lowest);
}

template <typename lanes>
void dividelanes(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    for (int32_t i = 0; i < count; i += lanes::width) {
        lanes::store(quotients + i,
                     lanes::quotient(lanes::load(x + i), lanes::load(reciprocals + i), lanes::divisionconstant(bias)));
    }
}

}  // namespace

#endif
