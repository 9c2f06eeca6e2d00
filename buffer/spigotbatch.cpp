#include "spigotbatch.h"

#include <stdlib.h>

int openbatch(struct spigotbatch* batch, int32_t cellcount, int tabled)
{
    const size_t span = (size_t)cellcount + 2 * BATCH_PADDING;
    batch->cellcount = cellcount;
    batch->reciprocals = NULL;
    batch->block = malloc((tabled ? 2 : 1) * span * sizeof(double));
    if (batch->block == NULL) {
        batch->cells = NULL;
        return 0;
    }
    batch->cells = (double*)batch->block + BATCH_PADDING;
    for (int32_t j = -BATCH_PADDING; j < cellcount + BATCH_PADDING; ++j) {
        batch->cells[j] = j >= 0 && j < cellcount ? 2 : 0;
    }
    if (tabled) {
        batch->reciprocals = batch->cells + span;
        for (int32_t j = -BATCH_PADDING; j < cellcount + BATCH_PADDING; ++j) {
            /* Rounded once; 1 below cell 0, and at cell 0, whose divisor
               is 1. */
            batch->reciprocals[j] = j > 0 ? 1.0 / (double)(2 * j + 1) : 1.0;
        }
    }
    return 1;
}

void closebatch(struct spigotbatch* batch)
{
    free(batch->block);
    batch->block = NULL;
}

void finishbatch(struct spigotbatch* batch, const double* carries, const double* powers, int32_t passes,
                 int64_t* values)
{
    /* Pass 0 saw the true cell 0; each later pass saw the zero its
       predecessor left, so add that predecessor's units back in, times
       what the pass multiplies by. Cell 0 hands out 10 A[1] + carry per
       spigot pass and keeps the units; over k passes that is Q = 10^k
       A[1] + C, and the k raw digits are worth Q div 10. */
    int64_t q = (int64_t)carries[0];
    values[0] = q / 10;
    for (int32_t p = 1; p < passes; ++p) {
        q = (int64_t)powers[p] * (q % 10) + (int64_t)carries[p];
        values[p] = q / 10;
    }
    if (batch->cellcount > 0) {
        batch->cells[0] = (double)(q % 10);
    }
}
