#include "computepi.h"

#include <stddef.h>
#include <stdlib.h>

#include "exactdivision.h"
#include "kernels/kernels.h"
#include "release.h"
#include "spigotbatch.h"

/* Where a group of batches goes next: each reaches down to the block's
   bottom, or as near it as the batch before it lets it, and the last
   block takes every batch to its end. */
static int32_t nextlowest(int32_t blockbottom, int32_t lowestafterprevious)
{
    const int32_t block = blockbottom > 0 ? blockbottom : INT32_MIN;
    return block > lowestafterprevious ? block : lowestafterprevious;
}

void runblocked(const struct batchvariant* kernel, struct spigotbatch* batch, struct batchrun* runs, int32_t count,
                int32_t blockcells, void (*finished)(void* context, int32_t index), void* context)
{
    int32_t finishedcount = 0;
    for (int64_t top = batch->cellcount; finishedcount < count; top -= blockcells) {
        const int32_t blockbottom = top - blockcells > 0 ? (int32_t)(top - blockcells) : 0;
        for (int32_t g = finishedcount; g < count; ++g) {
            const int32_t after = g > 0 ? lowestafter(&runs[g - 1], kernel->passes) : INT32_MIN;
            kernel->advance(batch, &runs[g], nextlowest(blockbottom, after));
            /* Before the next reads cell 0, which this one's units go back
               into. */
            if (runs[g].done && g == finishedcount) {
                finished(context, g);
                ++finishedcount;
            }
        }
    }
}

namespace {

struct releasing {
    const struct batchplan* plan;
    struct spigotbatch* batch;
    struct batchrun* runs;
    struct releasestate state;
    char* buffer;
    const struct passobserver* observer;
    int32_t ndigits;
    /* Passes before the group's first, passes in all, and whole passes
       of k. */
    int32_t done, needed, whole;
};

/* Batch g of the group is done: its digits go out. */
void release(void* context, int32_t g)
{
    struct releasing* r = (struct releasing*)context;
    const int32_t passes = r->plan->kernel->passes;
    const int32_t k = r->plan->fusedpasses;
    const int32_t first = r->done + g * passes;
    int64_t values[BATCH_PADDING];
    finishbatch(r->batch, r->runs[g].carries, r->runs[g].powers, passes, values);
    const int32_t wanted = r->needed - first < passes ? r->needed - first : passes;
    for (int32_t p = 0; p < wanted; ++p) {
        releasedigits(&r->state, values[p], first + p == r->whole ? r->ndigits % k : k, r->buffer);
    }
    if (r->observer != NULL) {
        const int32_t digitsdone = (first + wanted) * k;
        r->observer->afterbatch(r->observer->context, digitsdone < r->ndigits ? digitsdone : r->ndigits);
    }
}

}  // namespace

int computepiwith(const struct batchplan* plan, int32_t ndigits, char* buffer,
                  const struct passobserver* observer)
{
    const int32_t cellcount = ndigits * 10 / 3;
    const int32_t group = groupedbatches(plan, cellcount);
    struct spigotbatch batch;
    /* Aligned as its ring is, which the kernels load a cache line at a
       time. */
    struct batchrun* runs = (struct batchrun*)aligned_alloc(alignof(struct batchrun), (size_t)group * sizeof(struct batchrun));
    if (runs == NULL || !openbatch(&batch, cellcount, plan->kernel->tabled)) {
        free(runs);
        return computepi_outofmemory;
    }
    if (observer != NULL) {
        observer->afterbatch(observer->context, 0);
    }
    /* N spigot passes as passes by 10^k, and the last N mod k as one pass
       by 10^(N mod k): the text after exactly N is what is written. */
    const int32_t k = plan->fusedpasses;
    const int32_t whole = ndigits / k;
    const int32_t last = ndigits % k;
    struct releasing r = {plan, &batch, runs, {}, buffer, observer, ndigits, 0, whole + (last > 0 ? 1 : 0), whole};
    startrelease(&r.state);
    const int32_t passes = plan->kernel->passes;
    const double bias = fusedbias(plan->kernel->form, k);
    /* Whole batches: passes past the last change only cells nobody reads
       again, and their digits are not released. */
    for (; r.done < r.needed; r.done += group * passes) {
        const int32_t batches = (r.needed - r.done + passes - 1) / passes;
        const int32_t count = batches < group ? batches : group;
        for (int32_t g = 0; g < count; ++g) {
            double powers[BATCH_PADDING];
            for (int32_t p = 0; p < passes; ++p) {
                const int32_t pass = r.done + g * passes + p;
                powers[p] = (double)tenpower(pass == whole && last > 0 ? last : k);
            }
            startbatchrun(&runs[g], powers, passes, bias);
        }
        runblocked(plan->kernel, &batch, runs, count, plan->blockcells, release, &r);
    }
    finishrelease(&r.state, buffer);
    closebatch(&batch);
    free(runs);
    return computepi_ok;
}

int computepiobserved(int32_t ndigits, char* buffer, const struct passobserver* observer)
{
    const struct batchplan plan = fastestbatchplan(ndigits * 10 / 3);
    return computepiwith(&plan, ndigits, buffer, observer);
}

int computepi(int32_t ndigits, char* buffer)
{
    return computepiobserved(ndigits, buffer, NULL);
}
