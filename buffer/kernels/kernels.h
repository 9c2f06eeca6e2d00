#ifndef BUFFER_KERNELS_H
#define BUFFER_KERNELS_H

#include <stdint.h>

#include "spigotbatch.h"

/* One way of running a batch of passes, built for one instruction set. */
struct batchvariant {
    const char* name;
    /* Passes per batch: the lanes of all the vectors it keeps in flight. */
    int32_t passes;
    /* Whether this processor can run it. */
    int (*supported)(void);
    /* Runs `passes` passes over the batch's cells and stores, per pass, the
       carry it took out of cell 0 (see spigotbatch.h). */
    void (*runbatch)(struct spigotbatch* batch, double* carries);
    /* The kernel's exact division on its own, for tests: quotients[i] =
       floor(x[i] / d) given reciprocals[i] = 1 / d. count is a multiple
       of 8. */
    void (*divide)(const double* x, const double* reciprocals, double* quotients, int32_t count);
};

/* Every kernel this build has, the portable one first. */
extern const struct batchvariant* const batchvariants[];
extern const int32_t batchvariantcount;

/* The fastest kernel this processor supports. */
const struct batchvariant* fastestbatchvariant(void);

/* The kernels themselves, each in a file built for its instruction set. */
enum {
    portablepasses = 32,
    avx2vectors = 16,
    avx2passes = avx2vectors * 4,
    avx512vectors = 16,
    avx512passes = avx512vectors * 8,
    neonvectors = 16,
    neonpasses = neonvectors * 2,
};
void runbatchportable(struct spigotbatch* batch, double* carries);
void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count);
#if defined(PI_X86_KERNELS)
void runbatchavx2(struct spigotbatch* batch, double* carries);
void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count);
void runbatchavx512(struct spigotbatch* batch, double* carries);
void divideavx512(const double* x, const double* reciprocals, double* quotients, int32_t count);
#endif
#if defined(PI_NEON_KERNELS)
void runbatchneon(struct spigotbatch* batch, double* carries);
void divideneon(const double* x, const double* reciprocals, double* quotients, int32_t count);
#endif

#endif
