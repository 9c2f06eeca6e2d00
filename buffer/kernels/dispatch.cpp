/* Picks the widest kernel the processor can run, in the form its family
   runs fastest, and how many passes it fuses for the run's cells. Nothing
   but the processor and the count decide: no option or environment
   variable changes the choice. Built with the default flags, so the
   checks themselves run anywhere. */
#include "kernels.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#if defined(PI_X86_KERNELS)
#include <cpuid.h>
#endif

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
    "portable", "portable", portablepasses, division_tworoundings, tabled, alwayssupported, advanceportable,
    divideportable,
};

#if defined(PI_X86_KERNELS)
static int avx2supported(void)
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

static int avx512supported(void) { return __builtin_cpu_supports("avx512f"); }

static const struct batchvariant avx2 = {
    "avx2", "avx2", avx2passes, division_fused, workedout, avx2supported, advanceavx2, divideavx2,
};

static const struct batchvariant avx2rounddown = {
    "avx2rounddown", "avx2", avx2passes, division_rounddown, workedout, avx2supported, advanceavx2rounddown,
    divideavx2rounddown,
};

static const struct batchvariant avx512 = {
    "avx512", "avx512", avx512passes, division_rounddown, workedout, avx512supported, advanceavx512, divideavx512,
};
#endif

#if defined(PI_NEON_KERNELS)
/* Every arm64 processor has NEON. */
static const struct batchvariant neon = {
    "neon", "neon", neonpasses, division_fused, workedout, alwayssupported, advanceneon, divideneon,
};
#endif

/* From the narrowest instruction set to the widest; within one, the form
   a family no row of the table below names runs first. */
const struct batchvariant* const batchvariants[] = {
    &portable,
#if defined(PI_X86_KERNELS)
    &avx2,
    &avx2rounddown,
    &avx512,
#endif
#if defined(PI_NEON_KERNELS)
    &neon,
#endif
};
const int32_t batchvariantcount = (int32_t)(sizeof batchvariants / sizeof batchvariants[0]);

int32_t blockcellsfor(long cachebytes)
{
    if (cachebytes <= 0) {
        return defaultblockcells;
    }
    const long cells = cachebytes / 2 / (long)sizeof(int32_t);
    return cells > defaultblockcells ? defaultblockcells : cells < fewestblockcells ? fewestblockcells : (int32_t)cells;
}

/* A size as /sys writes it: "1024K". */
static long sizefrom(const char* path)
{
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        return 0;
    }
    char text[32] = "";
    const int read = fgets(text, sizeof text, file) != NULL;
    fclose(file);
    if (!read) {
        return 0;
    }
    char* unit = NULL;
    const long size = strtol(text, &unit, 10);
    return size * (*unit == 'K' ? 1024 : *unit == 'M' ? 1024 * 1024 : 1);
}

long secondlevelcachebytes(void)
{
    long bytes = 0;
#if defined(_SC_LEVEL2_CACHE_SIZE)
    bytes = sysconf(_SC_LEVEL2_CACHE_SIZE);
#endif
    /* Where the C library does not know it (arm64's): the cache of level
       2 among the first core's. */
    for (int index = 0; bytes <= 0 && index < 8; ++index) {
        char path[96];
        snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/level", index);
        if (sizefrom(path) == 2) {
            snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/size", index);
            bytes = sizefrom(path);
        }
    }
    return bytes > 0 ? bytes : 0;
}

/* Read once: every plan of a run takes the same block. */
static int32_t cacheblockcells(void)
{
    static int32_t cells = 0;
    if (cells == 0) {
        cells = blockcellsfor(secondlevelcachebytes());
    }
    return cells;
}

struct batchplan planwithfusedpasses(const struct batchvariant* kernel, int32_t cellcount, int32_t fusedpasses)
{
    const int32_t most = fusedpassesfor(kernel->form, cellcount);
    /* Cells that fit in the smallest block leave the cache unread: where
       the C library does not know it, reading it is files opened at every
       start, for runs that never block. */
    const int32_t blockcells = cellcount > fewestblockcells ? cacheblockcells() : defaultblockcells;
    const struct batchplan plan = {kernel, fusedpasses < most ? fusedpasses : most, blockcells,
                                   defaultgroupbatches};
    return plan;
}

int32_t groupedbatches(const struct batchplan* plan, int32_t cellcount)
{
    return cellcount > plan->blockcells ? plan->groupbatches : 1;
}

struct batchplan planwith(const struct batchvariant* kernel, int32_t cellcount)
{
    return planwithfusedpasses(kernel, cellcount, FUSED_MOSTPASSES);
}

/* Where an instruction set has more than one kernel, the one each
   processor family runs: the one that measured fastest there, in one run
   of the benchmarks (docs/benchmarks.md). A family no row names runs the
   set's first kernel. */
struct familychoice {
    int intel; /* 1 Intel, 0 AMD */
    int family;
    const char* kernel;
};

static const struct familychoice familychoices[] = {
#if defined(PI_X86_KERNELS)
    /* Every Intel Core and Xeon since 2006: the floor is two
       micro-operations on the FMA ports, and the form rounded down puts a
       subtraction in its place. */
    {1, 6, "avx2rounddown"},
#endif
    {0, 0, NULL},
};

/* The processor's vendor (1 Intel, 0 AMD, -1 another) and family. */
static void processorfamily(int* intel, int* family)
{
    *intel = -1;
    *family = -1;
#if defined(PI_X86_KERNELS)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        /* "GenuineIntel" and "AuthenticAMD", in ebx, edx, ecx. */
        *intel = ebx == 0x756e6547 ? 1 : ebx == 0x68747541 ? 0 : -1;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        const int base = (int)((eax >> 8) & 0xf);
        *family = base == 0xf ? base + (int)((eax >> 20) & 0xff) : base;
    }
#endif
}

const struct batchvariant* kernelforfamily(const char* instructionset, int intel, int family)
{
    const struct batchvariant* first = NULL;
    for (int32_t i = 0; i < batchvariantcount; ++i) {
        if (strcmp(batchvariants[i]->instructionset, instructionset) != 0) {
            continue;
        }
        first = first != NULL ? first : batchvariants[i];
        for (const struct familychoice* row = familychoices; row->kernel != NULL; ++row) {
            if (row->intel == intel && row->family == family && strcmp(row->kernel, batchvariants[i]->name) == 0) {
                return batchvariants[i];
            }
        }
    }
    return first;
}

struct batchplan fastestbatchplan(int32_t cellcount)
{
    int32_t i = batchvariantcount - 1;
    while (i > 0 && !batchvariants[i]->supported()) {
        --i;
    }
    int intel = 0, family = 0;
    processorfamily(&intel, &family);
    return planwith(kernelforfamily(batchvariants[i]->instructionset, intel, family), cellcount);
}
