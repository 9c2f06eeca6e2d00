/* Picks the widest kernel the processor can run for the run's cells.
   Nothing but the processor and the count decide: no option or
   environment variable changes the choice. Built with the default flags,
   so the checks themselves run anywhere. */
#include "kernels.h"

#include "floatdivision.h"

/* computepi keeps a batch's carries and digits in arrays this long, and
   the cell arrays are padded by it on both sides. */
/* The rotated kernels run up to one chunk of steps (a step per vector)
   past the end, one cell lower each. */
static_assert(portablepasses <= BATCH_PADDING && avx2floatpasses + avx2vectors <= BATCH_PADDING &&
                  avx512floatpasses + avx512vectors <= BATCH_PADDING &&
                  neonfloatpasses + neonvectors <= BATCH_PADDING,
              "batch longer than the padding");

/* Doubles serve every count a run may have (computepi.h). */
enum { everycell = INT32_MAX, floatcellsmost = FLOATDIVISION_LASTCELL + 1 };

static int alwayssupported(void) { return 1; }

static const struct batchvariant portable = {
    "portable", portablepasses, doublecells, everycell, alwayssupported, runbatchportable, divideportable, NULL,
};

#if defined(PI_X86_KERNELS)
static int avx2supported(void)
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

static int avx512supported(void) { return __builtin_cpu_supports("avx512f"); }

static const struct batchvariant avx2 = {
    "avx2", avx2passes, doublecells, everycell, avx2supported, runbatchavx2, divideavx2, NULL,
};

static const struct batchvariant avx2float = {
    "avx2float", avx2floatpasses, floatcells, floatcellsmost, avx2supported, runbatchavx2float, NULL,
    divideavx2float,
};

static const struct batchvariant avx512 = {
    "avx512", avx512passes, doublecells, everycell, avx512supported, runbatchavx512, divideavx512, NULL,
};

static const struct batchvariant avx512float = {
    "avx512float", avx512floatpasses, floatcells, floatcellsmost, avx512supported, runbatchavx512float, NULL,
    divideavx512float,
};
#endif

#if defined(PI_NEON_KERNELS)
/* Every arm64 processor has NEON. */
static const struct batchvariant neon = {
    "neon", neonpasses, doublecells, everycell, alwayssupported, runbatchneon, divideneon, NULL,
};

static const struct batchvariant neonfloat = {
    "neonfloat", neonfloatpasses, floatcells, floatcellsmost, alwayssupported, runbatchneonfloat, NULL,
    divideneonfloat,
};
#endif

/* From slowest to fastest: each instruction set's floats after its
   doubles. */
const struct batchvariant* const batchvariants[] = {
    &portable,
#if defined(PI_X86_KERNELS)
    &avx2,
    &avx2float,
    &avx512,
    &avx512float,
#endif
#if defined(PI_NEON_KERNELS)
    &neon,
    &neonfloat,
#endif
};
const int32_t batchvariantcount = (int32_t)(sizeof batchvariants / sizeof batchvariants[0]);

const struct batchvariant* fastestbatchvariant(int32_t cellcount)
{
    for (int32_t i = batchvariantcount - 1; i > 0; --i) {
        if (batchvariants[i]->supported() && cellcount <= batchvariants[i]->mostcells) {
            return batchvariants[i];
        }
    }
    return &portable;
}
