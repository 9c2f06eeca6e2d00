#include "spigotbatch.h"

#include <stdlib.h>

namespace {

template <typename scalar>
scalar* fill(void* block, size_t span, int32_t cellcount)
{
    scalar* cells = (scalar*)block + BATCH_PADDING;
    scalar* reciprocals = (scalar*)block + span + BATCH_PADDING;
    for (int32_t j = -BATCH_PADDING; j < cellcount + BATCH_PADDING; ++j) {
        const int32_t index = j > 0 ? j : 0;
        cells[j] = j >= 0 && j < cellcount ? 2 : 0;
        /* Rounded once, to the cells' own precision. */
        reciprocals[j] = (scalar)1 / (scalar)(2 * index + 1);
    }
    return cells;
}

}  // namespace

int openbatch(struct spigotbatch* batch, int32_t cellcount, enum cellprecision precision)
{
    const size_t span = (size_t)cellcount + 2 * BATCH_PADDING;
    const size_t size = precision == floatcells ? sizeof(float) : sizeof(double);
    void* block = malloc(2 * span * size);
    if (block == NULL) {
        return 0;
    }
    batch->cellcount = cellcount;
    batch->precision = precision;
    batch->block = block;
    batch->cells = batch->reciprocals = NULL;
    batch->floatcells = batch->floatreciprocals = NULL;
    if (precision == floatcells) {
        batch->floatcells = fill<float>(block, span, cellcount);
        batch->floatreciprocals = batch->floatcells + span;
    } else {
        batch->cells = fill<double>(block, span, cellcount);
        batch->reciprocals = batch->cells + span;
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
    if (batch->cellcount > 0 && batch->precision == floatcells) {
        batch->floatcells[0] = (float)(q % 10);
    } else if (batch->cellcount > 0) {
        batch->cells[0] = (double)(q % 10);
    }
}
