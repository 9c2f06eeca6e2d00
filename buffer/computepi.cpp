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
                int32_t blockcells, const struct groupobserver* observer)
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
                observer->finished(observer->context, g);
                ++finishedcount;
            }
        }
        if (observer->afterblock != NULL) {
            observer->afterblock(observer->context);
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
       of k; the group's batches, and the digits' worth last told. */
    int32_t done, needed, whole;
    int32_t count;
    int32_t told;
};

/* The passes of batch g of the group that the text needs: all of them
   but in its last batch. */
static int32_t passesof(const struct releasing* r, int32_t g)
{
    const int32_t passes = r->plan->kernel->passes;
    const int32_t first = r->done + g * passes;
    return r->needed - first < passes ? r->needed - first : passes;
}

/* Tells the observer, never less than before, and no more than N. */
static void tell(struct releasing* r, int64_t digitsdone)
{
    const int32_t capped = digitsdone < r->ndigits ? (int32_t)digitsdone : r->ndigits;
    if (r->observer != NULL && capped > r->told) {
        r->told = capped;
        r->observer->afterbatch(r->observer->context, capped);
    }
}

/* Batch g of the group is done: its digits go out. */
void release(void* context, int32_t g)
{
    struct releasing* r = (struct releasing*)context;
    const int32_t passes = r->plan->kernel->passes;
    const int32_t k = r->plan->fusedpasses;
    const int32_t first = r->done + g * passes;
    int64_t values[BATCH_PADDING];
    finishbatch(r->batch, r->runs[g].carries, r->runs[g].powers, passes, values);
    const int32_t wanted = passesof(r, g);
    for (int32_t p = 0; p < wanted; ++p) {
        releasedigits(&r->state, values[p], first + p == r->whole ? r->ndigits % k : k, r->buffer);
    }
    /* A group's batches end together in its last block: their work shows
       block by block instead. */
    if (r->count == 1) {
        tell(r, (int64_t)(first + wanted) * k);
    }
}

/* Every batch of the group has gone down a block: the passes' work so far,
   in digits' worth. */
void progressed(void* context)
{
    struct releasing* r = (struct releasing*)context;
    if (r->count == 1) {
        return;
    }
    double passes = r->done;
    for (int32_t g = 0; g < r->count; ++g) {
        passes += batchshare(&r->runs[g], r->batch->cellcount, r->plan->kernel->passes) * passesof(r, g);
    }
    tell(r, (int64_t)(passes * r->plan->fusedpasses));
}

}  // namespace

int computepiwith(const struct batchplan* plan, int32_t ndigits, char* buffer,
                  const struct passobserver* observer)
{
    return computepigroups(plan, ndigits, buffer, observer, INT32_MAX);
}

int computepigroups(const struct batchplan* plan, int32_t ndigits, char* buffer,
                    const struct passobserver* observer, int32_t groups)
{
    const int32_t cellcount = ndigits * 10 / 3;
    const int32_t group = groupedbatches(plan, cellcount);
    struct spigotbatch batch;
    /* Aligned as its ring is, which the kernels load a cache line at a
       time. */
    struct batchrun* runs =
        (struct batchrun*)aligned_alloc(alignof(struct batchrun), (size_t)group * sizeof(struct batchrun));
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
    struct releasing r = {plan, &batch, runs, {}, buffer, observer, ndigits,
                          0, whole + (last > 0 ? 1 : 0), whole, 1, 0};
    const struct groupobserver told = {release, progressed, &r};
    startrelease(&r.state);
    const int32_t passes = plan->kernel->passes;
    const double bias = fusedbias(plan->kernel->form, k);
    /* Whole batches: passes past the last change only cells nobody reads
       again, and their digits are not released. */
    for (; r.done < r.needed && groups > 0; r.done += group * passes, --groups) {
        const int32_t batches = (r.needed - r.done + passes - 1) / passes;
        r.count = batches < group ? batches : group;
        for (int32_t g = 0; g < r.count; ++g) {
            double powers[BATCH_PADDING];
            for (int32_t p = 0; p < passes; ++p) {
                const int32_t pass = r.done + g * passes + p;
                powers[p] = (double)tenpower(pass == whole && last > 0 ? last : k);
            }
            startbatchrun(&runs[g], powers, passes, bias);
        }
        runblocked(plan->kernel, &batch, runs, r.count, plan->blockcells, &told);
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
