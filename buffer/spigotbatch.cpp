#include "spigotbatch.h"

#include <stdlib.h>
#include <string.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

/* Huge pages hold the cells where the system gives them for the asking:
   at the largest count, the page faults of 4 KB pages cost about as much
   as writing the cells. */
enum { hugepage = 2 * 1024 * 1024 };

static void* allocatecells(size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes >= hugepage) {
        const size_t whole = (bytes + hugepage - 1) / hugepage * hugepage;
        void* block = NULL;
        if (posix_memalign(&block, hugepage, whole) != 0) {
            return NULL;
        }
        /* Only advice: without huge pages the cells are as good. */
        (void)madvise(block, whole, MADV_HUGEPAGE);
        return block;
    }
#endif
    return malloc(bytes);
}

int openbatch(struct spigotbatch* batch, int32_t cellcount, int tabled)
{
    const size_t span = (size_t)cellcount + 2 * BATCH_PADDING;
    /* The table after the cells, on a cache line of its own. */
    const size_t tableoffset = (span * sizeof(int32_t) + 63) / 64 * 64;
    batch->cellcount = cellcount;
    batch->reciprocals = NULL;
    batch->block = allocatecells(tabled ? tableoffset + span * sizeof(double) : span * sizeof(int32_t));
    if (batch->block == NULL) {
        batch->cells = NULL;
        return 0;
    }
    batch->cells = (int32_t*)batch->block + BATCH_PADDING;
    for (int32_t j = -BATCH_PADDING; j < cellcount + BATCH_PADDING; ++j) {
        batch->cells[j] = j >= 0 && j < cellcount ? 2 : 0;
    }
    if (tabled) {
        batch->reciprocals = (double*)((char*)batch->block + tableoffset) + BATCH_PADDING;
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

void startbatchrun(struct batchrun* run, const double* powers, int32_t passes, double bias)
{
    memcpy(run->powers, powers, (size_t)passes * sizeof(double));
    run->bias = bias;
    run->started = 0;
    run->done = 0;
}

int32_t lowestafter(const struct batchrun* run, int32_t passes)
{
    if (run->done) {
        return INT32_MIN;
    }
    /* Not started, it is still to read the top cell. */
    return run->started ? run->bottom + passes : INT32_MAX;
}

double batchshare(const struct batchrun* run, int32_t cellcount, int32_t passes)
{
    if (!run->started || run->done) {
        return run->done ? 1.0 : 0.0;
    }
    const double share = (double)(cellcount - 1 - run->bottom) / (double)(cellcount + passes - 1);
    return share < 1.0 ? share : 1.0;
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
        batch->cells[0] = (int32_t)(q % 10);
    }
}
