#include "computepi.h"

#include <stddef.h>

#include "kernels/kernels.h"
#include "release.h"
#include "spigotbatch.h"

int computepiwith(const struct batchplan* plan, int32_t ndigits, char* buffer,
                  const struct passobserver* observer)
{
    struct spigotbatch batch;
    if (!openbatch(&batch, ndigits * 10 / 3, plan->crossing)) {
        return computepi_outofmemory;
    }
    struct releasestate state;
    startrelease(&state);
    double carries[BATCH_PADDING];
    uint8_t digits[BATCH_PADDING];
    /* Whole batches: passes past the Nth change only cells nobody reads
       again, and their digits are not released. */
    for (int32_t done = 0; done < ndigits; done += plan->passes) {
        runplannedbatch(plan, &batch, carries);
        finishbatch(&batch, carries, plan->passes, digits);
        const int32_t wanted = ndigits - done < plan->passes ? ndigits - done : plan->passes;
        for (int32_t k = 0; k < wanted; ++k) {
            releasedigit(&state, digits[k], buffer);
        }
        if (observer != NULL) {
            observer->afterbatch(observer->context, done + wanted);
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
