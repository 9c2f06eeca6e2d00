#include "spigotbatch.h"

#include <stdlib.h>

namespace {

/* A region of count cells from cell `lowest`, padded on both sides:
   returns its cells and sets their reciprocals (when reciprocalsout is
   not NULL), or NULL when memory runs out. */
template <typename scalar>
scalar* openregion(void** block, int32_t lowest, int32_t count, scalar** reciprocalsout)
{
    const size_t span = (size_t)count + 2 * BATCH_PADDING;
    *block = malloc((reciprocalsout != NULL ? 2 : 1) * span * sizeof(scalar));
    if (*block == NULL) {
        return NULL;
    }
    scalar* cells = (scalar*)*block + BATCH_PADDING;
    for (int32_t j = -BATCH_PADDING; j < count + BATCH_PADDING; ++j) {
        cells[j] = j >= 0 && j < count ? 2 : 0;
    }
    if (reciprocalsout != NULL) {
        scalar* reciprocals = cells + span;
        for (int32_t j = -BATCH_PADDING; j < count + BATCH_PADDING; ++j) {
            /* Rounded once, to the cells' own precision; below the region
               1, and so at cell 0, whose divisor is 1. */
            reciprocals[j] = j >= 0 ? (scalar)1 / (scalar)(2 * (lowest + j) + 1) : 1;
        }
        *reciprocalsout = reciprocals;
    }
    return cells;
}

}  // namespace

int openbatch(struct spigotbatch* batch, int32_t cellcount, int32_t crossing, int tabled)
{
    batch->cellcount = cellcount;
    batch->crossing = crossing;
    batch->cells = batch->reciprocals = NULL;
    batch->floatcells = NULL;
    batch->doubleblock = batch->floatblock = NULL;
    /* A run with no cells still has a region for its kernel to run on. */
    if (crossing > 0 || cellcount == 0) {
        batch->floatcells = openregion<float>(&batch->floatblock, 0, crossing, NULL);
        if (batch->floatcells == NULL) {
            return 0;
        }
    }
    if (crossing < cellcount || cellcount == 0) {
        batch->cells = openregion<double>(&batch->doubleblock, crossing, cellcount - crossing,
                                          tabled ? &batch->reciprocals : NULL);
        if (batch->cells == NULL) {
            closebatch(batch);
            return 0;
        }
    }
    return 1;
}

void closebatch(struct spigotbatch* batch)
{
    free(batch->doubleblock);
    free(batch->floatblock);
    batch->doubleblock = batch->floatblock = NULL;
}

double cellvalue(const struct spigotbatch* batch, int32_t j)
{
    return j < batch->crossing ? (double)batch->floatcells[j] : batch->cells[j - batch->crossing];
}

void setcellvalue(struct spigotbatch* batch, int32_t j, double value)
{
    if (j < batch->crossing) {
        batch->floatcells[j] = (float)value;
    } else {
        batch->cells[j - batch->crossing] = value;
    }
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
        setcellvalue(batch, 0, (double)(q % 10));
    }
}
