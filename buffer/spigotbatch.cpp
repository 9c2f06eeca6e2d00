#include "spigotbatch.h"

#include <stdlib.h>

int openbatch(struct spigotbatch* batch, int32_t cellcount)
{
    const size_t span = (size_t)cellcount + 2 * BATCH_PADDING;
    double* block = (double*)malloc(2 * span * sizeof(double));
    if (block == NULL) {
        return 0;
    }
    batch->cellcount = cellcount;
    batch->block = block;
    batch->cells = block + BATCH_PADDING;
    batch->reciprocals = block + span + BATCH_PADDING;
    for (int32_t j = -BATCH_PADDING; j < cellcount + BATCH_PADDING; ++j) {
        const int32_t index = j > 0 ? j : 0;
        batch->cells[j] = j >= 0 && j < cellcount ? 2.0 : 0.0;
        batch->reciprocals[j] = 1.0 / (double)(2 * index + 1);
    }
    return 1;
}

void closebatch(struct spigotbatch* batch)
{
    free(batch->block);
    batch->block = NULL;
}

void finishbatch(struct spigotbatch* batch, const double* carries, int32_t passes,
                 uint8_t* digits)
{
    /* Pass 0 saw the true cell 0; each later pass saw the zero its
       predecessor left, so add that predecessor's units back in. */
    int32_t q = (int32_t)carries[0];
    digits[0] = (uint8_t)(q / 10);
    for (int32_t k = 1; k < passes; ++k) {
        q = 10 * (q % 10) + (int32_t)carries[k];
        digits[k] = (uint8_t)(q / 10);
    }
    if (batch->cellcount > 0) {
        batch->cells[0] = (double)(q % 10);
    }
}
