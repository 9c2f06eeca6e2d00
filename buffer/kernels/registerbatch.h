#ifndef BUFFER_KERNELS_REGISTERBATCH_H
#define BUFFER_KERNELS_REGISTERBATCH_H

/* The batch loop of the vector kernels, written once over a set of lane
   operations. The batch's cells and carries stay in registers: after each
   step every cell moves up one lane (the top lane of one vector becomes the
   bottom lane of the next), an untouched cell enters the bottom lane and a
   finished cell leaves the top.

   Include it only from a kernel file. Everything here has internal
   linkage, so each file keeps its own copy, built for its own instruction
   set; a shared copy could run AVX-512 code on a processor without it. */

#include <stdint.h>

#include "kernels.h"

namespace {

/* lanes supplies: vector, width, load, store, broadcast, add, mul, fmadd,
   fnmadd, quotient (exactdivision.h), and shiftup(upper, below): below's
   top lane, then upper's lanes but its top one. */
template <typename lanes, int passes>
void runregisterbatch(struct spigotbatch* batch, double* carries)
{
    typedef typename lanes::vector vector;
    enum { width = lanes::width, vectors = passes / width };
    static_assert(passes % width == 0, "a batch is whole vectors");

    const int32_t cellcount = batch->cellcount;
    double* cells = batch->cells;
    const vector one = lanes::broadcast(1.0);
    const vector ten = lanes::broadcast(10.0);
    vector cell[vectors];
    vector carry[vectors];
    vector rest[vectors];
#pragma GCC unroll 16
    for (int i = 0; i < vectors; ++i) {
        cell[i] = lanes::load(cells + cellcount - 1 + width * i);
        carry[i] = lanes::broadcast(0.0);
    }
    const int32_t steps = cellcount + passes - 1;
    for (int32_t step = 0; step < steps; ++step) {
        /* Lane k of vector i is pass width * i + k, on cell bottom + that. */
        const int32_t bottom = cellcount - 1 - step;
#pragma GCC unroll 16
        for (int i = 0; i < vectors; ++i) {
            const vector index = lanes::load(batch->indices + bottom + width * i);
            const vector reciprocal = lanes::load(batch->reciprocals + bottom + width * i);
            const vector multiplier = lanes::add(index, one);
            const vector divisor = lanes::add(index, multiplier);
            const vector x = lanes::fmadd(cell[i], ten, lanes::mul(carry[i], multiplier));
            const vector q = lanes::quotient(x, reciprocal);
            rest[i] = lanes::fnmadd(q, divisor, x);
            carry[i] = q;
        }
        /* The top lane is final; the other lanes written here are cells
           still in flight, stored over again before the batch ends. */
        lanes::store(cells + bottom + passes - width, rest[vectors - 1]);
#pragma GCC unroll 16
        for (int i = vectors - 1; i > 0; --i) {
            cell[i] = lanes::shiftup(rest[i], rest[i - 1]);
        }
        cell[0] = lanes::shiftup(rest[0], lanes::broadcast(cells[bottom - 1]));
    }
    /* The last steps' stores reached below cell 0: zeros, since a cell
       there has divisor 1 and keeps nothing. */
#pragma GCC unroll 16
    for (int i = 0; i < vectors; ++i) {
        lanes::store(carries + width * i, carry[i]);
    }
}

template <typename lanes>
void dividelanes(const double* x, const double* reciprocals, double* quotients, int32_t count)
{
    for (int32_t i = 0; i < count; i += lanes::width) {
        lanes::store(quotients + i,
                     lanes::quotient(lanes::load(x + i), lanes::load(reciprocals + i)));
    }
}

}  // namespace

#endif
