/* Picks the widest kernels the processor can run for the run's cells,
   and how many passes they fuse, and runs a batch with them. Nothing but
   the processor and the count decide: no option or environment variable
   changes the choice. Built with the default flags, so the checks
   themselves run anywhere. */
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
enum { everycell = INT32_MAX, floatcellsmost = FLOATDIVISION_LASTCELL + 1, indoubles = 0, infloats = 1 };
enum { workedout = 0, tabled = 1 };

static int alwayssupported(void) { return 1; }

static const struct batchvariant portable = {
    "portable", portablepasses, indoubles, everycell, division_tworoundings, tabled, NULL, alwayssupported, runbatchportable, divideportable, NULL,
};

#if defined(PI_X86_KERNELS)
static int avx2supported(void)
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

static int avx512supported(void) { return __builtin_cpu_supports("avx512f"); }

static const struct batchvariant avx2 = {
    "avx2", avx2passes, indoubles, everycell, division_fused, workedout, NULL, avx2supported, runbatchavx2, divideavx2, NULL,
};

static const struct batchvariant avx2float = {
    "avx2float", avx2floatpasses, infloats, floatcellsmost, division_fused, workedout, &avx2, avx2supported, runbatchavx2float, NULL,
    divideavx2float,
};

static const struct batchvariant avx512 = {
    "avx512", avx512passes, indoubles, everycell, division_fused, workedout, NULL, avx512supported, runbatchavx512, divideavx512, NULL,
};

static const struct batchvariant avx512float = {
    "avx512float", avx512floatpasses, infloats, floatcellsmost, division_fused, workedout, &avx512, avx512supported, runbatchavx512float, NULL,
    divideavx512float,
};
#endif

#if defined(PI_NEON_KERNELS)
/* Every arm64 processor has NEON. */
static const struct batchvariant neon = {
    "neon", neonpasses, indoubles, everycell, division_fused, workedout, NULL, alwayssupported, runbatchneon, divideneon, NULL,
};

static const struct batchvariant neonfloat = {
    "neonfloat", neonfloatpasses, infloats, floatcellsmost, division_fused, workedout, &neon, alwayssupported, runbatchneonfloat, NULL,
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

struct batchplan planwithfusedpasses(const struct batchvariant* kernel, int32_t cellcount, int32_t fusedpasses)
{
    if (kernel->infloats) {
        return planwith(kernel, cellcount);
    }
    const int32_t most = fusedpassesfor(kernel->form, cellcount);
    const struct batchplan plan = {NULL, kernel, 0, kernel->passes, fusedpasses < most ? fusedpasses : most};
    return plan;
}

struct batchplan planwithcrossing(const struct batchvariant* kernel, int32_t cellcount, int32_t crossing)
{
    if (!kernel->infloats) {
        return planwithfusedpasses(kernel, cellcount, FUSED_MOSTPASSES);
    }
    struct batchplan plan = {NULL, kernel, 0, kernel->passes, 1};
    crossing = crossing < kernel->mostcells ? crossing : kernel->mostcells;
    crossing = crossing < cellcount ? crossing : cellcount;
    if (crossing == 0 && cellcount > 0) {
        plan.doubles = kernel->doublesabove;
        plan.passes = plan.doubles->passes;
        return plan;
    }
    /* A run without cells is one float region, as a run whose cells all
       fit is. */
    plan.floats = kernel;
    plan.doubles = crossing < cellcount ? kernel->doublesabove : NULL;
    plan.crossing = crossing;
    return plan;
}

struct batchplan planwith(const struct batchvariant* kernel, int32_t cellcount)
{
    return planwithcrossing(kernel, cellcount, cellcount);
}

/* A pass by 10^7 or more in doubles does several times the work of a
   pass by 10 in float lanes of twice the width, so the doubles win. */
struct batchplan fastestbatchplan(int32_t cellcount)
{
    for (int32_t i = batchvariantcount - 1; i > 0; --i) {
        if (!batchvariants[i]->infloats && batchvariants[i]->supported()) {
            return planwith(batchvariants[i], cellcount);
        }
    }
    return planwith(&portable, cellcount);
}

void runplannedbatch(const struct batchplan* plan, struct spigotbatch* batch, double* carriesout,
                     const struct fusedpowers* powers)
{
    if (plan->floats == NULL) {
        plan->doubles->runbatch(batch, NULL, carriesout, powers);
        return;
    }
    if (plan->doubles == NULL) {
        plan->floats->runbatch(batch, NULL, carriesout, powers);
        return;
    }
    double above[BATCH_PADDING];
    for (int32_t first = 0; first < plan->passes; first += plan->doubles->passes) {
        const struct fusedpowers part = {powers->powers + first, powers->bias};
        plan->doubles->runbatch(batch, NULL, above + first, &part);
    }
    plan->floats->runbatch(batch, above, carriesout, powers);
}
