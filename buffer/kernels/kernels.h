#ifndef BUFFER_KERNELS_H
#define BUFFER_KERNELS_H

#include <stdint.h>

#include "spigotbatch.h"

/* Divisions in floats, for testing a single-precision kernel's own:
   quotients[i] and remainders[i] of x[i] by divisors[i], given
   reciprocals[i] = 1 / divisors[i] rounded. count is a multiple of 16. */
struct floatdivisions {
    const float* x;
    const float* reciprocals;
    const float* divisors;
    float* quotients;
    float* remainders;
    int32_t count;
};

/* One way of running a batch of passes, built for one instruction set. */
struct batchvariant {
    const char* name;
    /* Passes per batch: the lanes of all the vectors it keeps in flight. */
    int32_t passes;
    /* The precision of the cells it runs on (spigotbatch.h). */
    enum cellprecision precision;
    /* The most cells it is exact for: a float holds every value up to
       cell FLOATDIVISION_LASTCELL; doubles serve every run. */
    int32_t mostcells;
    /* Whether this processor can run it. */
    int (*supported)(void);
    /* Runs `passes` passes over the batch's cells and stores, per pass, the
       carry it took out of cell 0 (see spigotbatch.h). */
    void (*runbatch)(struct spigotbatch* batch, double* carries);
    /* The kernel's exact division on its own, for tests. In doubles:
       quotients[i] = floor(x[i] / d) given reciprocals[i] = 1 / d, count a
       multiple of 8; NULL in single precision, which has dividefloats:
       the bias form, or (corrected != 0) the corrected one. */
    void (*divide)(const double* x, const double* reciprocals, double* quotients, int32_t count);
    void (*dividefloats)(const struct floatdivisions* divisions, int corrected);
};

/* Every kernel this build has, the portable one first. */
extern const struct batchvariant* const batchvariants[];
extern const int32_t batchvariantcount;

/* The fastest kernel this processor supports for a run of cellcount
   cells: in floats where they all fit one, in doubles otherwise. */
const struct batchvariant* fastestbatchvariant(int32_t cellcount);

/* The kernels themselves, each in a file built for its instruction set. */
enum {
    portablepasses = 32,
    avx2vectors = 16,
    avx2passes = avx2vectors * 4,
    avx2floatpasses = avx2vectors * 8,
    avx512vectors = 16,
    avx512passes = avx512vectors * 8,
    avx512floatpasses = avx512vectors * 16,
    neonvectors = 16,
    neonpasses = neonvectors * 2,
    neonfloatpasses = neonvectors * 4,
};
void runbatchportable(struct spigotbatch* batch, double* carries);
void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count);
#if defined(PI_X86_KERNELS)
void runbatchavx2(struct spigotbatch* batch, double* carries);
void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count);
void runbatchavx2float(struct spigotbatch* batch, double* carries);
void divideavx2float(const struct floatdivisions* divisions, int corrected);
void runbatchavx512(struct spigotbatch* batch, double* carries);
void divideavx512(const double* x, const double* reciprocals, double* quotients, int32_t count);
void runbatchavx512float(struct spigotbatch* batch, double* carries);
void divideavx512float(const struct floatdivisions* divisions, int corrected);
#endif
#if defined(PI_NEON_KERNELS)
void runbatchneon(struct spigotbatch* batch, double* carries);
void divideneon(const double* x, const double* reciprocals, double* quotients, int32_t count);
void runbatchneonfloat(struct spigotbatch* batch, double* carries);
void divideneonfloat(const struct floatdivisions* divisions, int corrected);
#endif

#endif
