/* Picks the widest kernel the processor can run, and how many passes it
   fuses for the run's cells. Nothing but the processor and the count
   decide: no option or environment variable changes the choice. Built
   with the default flags, so the checks themselves run anywhere. */
#include "kernels.h"

/* computepi keeps a batch's carries and digits in arrays this long, and
   the cell arrays are padded by it on both sides. */
/* The rotated kernels run up to one chunk of steps (a step per vector)
   past the end, one cell lower each. */
static_assert(portablepasses <= BATCH_PADDING && avx2passes + avx2vectors <= BATCH_PADDING &&
                  avx512passes + avx512vectors <= BATCH_PADDING && neonpasses + neonvectors <= BATCH_PADDING,
              "batch longer than the padding");

enum { workedout = 0, tabled = 1 };

static int alwayssupported(void) { return 1; }

static const struct batchvariant portable = {
    "portable", portablepasses, division_tworoundings, tabled, alwayssupported, runbatchportable, divideportable,
};

#if defined(PI_X86_KERNELS)
static int avx2supported(void)
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

static int avx512supported(void) { return __builtin_cpu_supports("avx512f"); }

static const struct batchvariant avx2 = {
    "avx2", avx2passes, division_fused, workedout, avx2supported, runbatchavx2, divideavx2,
};

static const struct batchvariant avx512 = {
    "avx512", avx512passes, division_rounddown, workedout, avx512supported, runbatchavx512, divideavx512,
};
#endif

#if defined(PI_NEON_KERNELS)
/* Every arm64 processor has NEON. */
static const struct batchvariant neon = {
    "neon", neonpasses, division_fused, workedout, alwayssupported, runbatchneon, divideneon,
};
#endif

/* From slowest to fastest. */
const struct batchvariant* const batchvariants[] = {
    &portable,
#if defined(PI_X86_KERNELS)
    &avx2,
    &avx512,
#endif
#if defined(PI_NEON_KERNELS)
    &neon,
#endif
};
const int32_t batchvariantcount = (int32_t)(sizeof batchvariants / sizeof batchvariants[0]);

struct batchplan planwithfusedpasses(const struct batchvariant* kernel, int32_t cellcount, int32_t fusedpasses)
{
    const int32_t most = fusedpassesfor(kernel->form, cellcount);
    const struct batchplan plan = {kernel, fusedpasses < most ? fusedpasses : most};
    return plan;
}

struct batchplan planwith(const struct batchvariant* kernel, int32_t cellcount)
{
    return planwithfusedpasses(kernel, cellcount, FUSED_MOSTPASSES);
}

struct batchplan fastestbatchplan(int32_t cellcount)
{
    int32_t i = batchvariantcount - 1;
    while (i > 0 && !batchvariants[i]->supported()) {
        --i;
    }
    return planwith(batchvariants[i], cellcount);
}
