#include "computepi.h"

#include <stddef.h>

#include "exactdivision.h"
#include "kernels/kernels.h"
#include "release.h"
#include "spigotbatch.h"

int computepiwith(const struct batchplan* plan, int32_t ndigits, char* buffer,
                  const struct passobserver* observer)
{
    const int32_t cellcount = ndigits * 10 / 3;
    struct spigotbatch batch;
    if (!openbatch(&batch, cellcount, plan->kernel->tabled)) {
        return computepi_outofmemory;
    }
    if (observer != NULL) {
        observer->afterbatch(observer->context, 0);
    }
    struct releasestate state;
    startrelease(&state);
    /* N spigot passes as passes by 10^k, and the last N mod k as one pass
       by 10^(N mod k): the text after exactly N is what is written. */
    const int32_t k = plan->fusedpasses;
    const int32_t whole = ndigits / k;
    const int32_t last = ndigits % k;
    const int32_t needed = whole + (last > 0 ? 1 : 0);
    const int32_t passes = plan->kernel->passes;
    double powers[BATCH_PADDING];
    double carries[BATCH_PADDING];
    int64_t values[BATCH_PADDING];
    /* Whole batches: passes past the last change only cells nobody reads
       again, and their digits are not released. */
    for (int32_t done = 0; done < needed; done += passes) {
        for (int32_t p = 0; p < passes; ++p) {
            powers[p] = (double)tenpower(done + p == whole && last > 0 ? last : k);
        }
        const struct fusedpowers fused = {powers, fusedbias(plan->kernel->form, k)};
        plan->kernel->runbatch(&batch, carries, &fused);
        finishbatch(&batch, carries, powers, passes, values);
        const int32_t wanted = needed - done < passes ? needed - done : passes;
        for (int32_t p = 0; p < wanted; ++p) {
            releasedigits(&state, values[p], done + p == whole ? last : k, buffer);
        }
        if (observer != NULL) {
            const int32_t digitsdone = (done + wanted) * k;
            observer->afterbatch(observer->context, digitsdone < ndigits ? digitsdone : ndigits);
        }
    }
    finishrelease(&state, buffer);
    closebatch(&batch);
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
