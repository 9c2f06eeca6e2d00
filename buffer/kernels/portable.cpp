/* The kernel any compiler builds for any processor: plain loops over the
   lanes, which compilers vectorize with whatever the target has.

   Rather than moving cells between lanes, pass k works directly on the
   cell array: at each step the lanes address the cells one lower than
   before, so the cell a pass leaves is the one the next pass picks up. */
#include "kernels.h"

#include "exactdivision.h"

void runbatchportable(struct spigotbatch* batch, double* carries)
{
    double carry[portablepasses];
    for (int32_t k = 0; k < portablepasses; ++k) {
        carry[k] = 0.0;
    }
    const int32_t steps = batch->cellcount + portablepasses - 1;
    for (int32_t step = 0; step < steps; ++step) {
        /* Pass k works on cell bottom + k. */
        const int32_t bottom = batch->cellcount - 1 - step;
        double* __restrict cells = batch->cells + bottom;
        const double* __restrict indices = batch->indices + bottom;
        const double* __restrict reciprocals = batch->reciprocals + bottom;
        for (int32_t k = 0; k < portablepasses; ++k) {
            const double multiplier = indices[k] + 1.0;
            const double divisor = indices[k] + multiplier;
            const double x = 10.0 * cells[k] + carry[k] * multiplier;
            const double q = exactquotient(x, reciprocals[k]);
            cells[k] = x - q * divisor;
            carry[k] = q;
        }
    }
    for (int32_t k = 0; k < portablepasses; ++k) {
        carries[k] = carry[k];
    }
}

void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        quotients[i] = exactquotient(x[i], reciprocals[i]);
    }
}
