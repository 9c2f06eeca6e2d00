#ifndef BUFFER_KERNELS_H
#define BUFFER_KERNELS_H

#include <stdint.h>

#include "exactdivision.h"
#include "spigotbatch.h"

/* What each pass of a batch does: pass p multiplies its cells by
   powers[p] = 10^k, k spigot passes in one (exactdivision.h), and divides
   with the bias of the largest k of the batch. */
struct fusedpowers {
    const double* powers;
    double bias;
};

/* One way of running a batch of passes, built for one instruction set. */
struct batchvariant {
    const char* name;
    /* The instruction set it needs; the widest the processor has is the
       one run, in the form its family runs fastest (dispatch.cpp). */
    const char* instructionset;
    /* Passes per batch: the lanes of all the vectors it keeps in flight. */
    int32_t passes;
    /* How it divides, which bounds the passes it may fuse. */
    enum divisionform form;
    /* Whether it reads the reciprocals from a table rather than working
       them out as cells enter. */
    int tabled;
    /* Whether this processor can run it. */
    int (*supported)(void);
    /* Runs `passes` passes over the batch's cells, pass p by
       powers->powers[p], and stores in carriesout[p] what pass p took
       out of cell 0 (see spigotbatch.h). */
    void (*runbatch)(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers);
    /* The kernel's exact division on its own, for tests: quotients[i] =
       floor(x[i] / d) given reciprocals[i] = 1 / d and the bias, count a
       multiple of 8. */
    void (*divide)(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
};

/* Every kernel this build has, the portable one first. */
extern const struct batchvariant* const batchvariants[];
extern const int32_t batchvariantcount;

/* How a run's batches are made: by one kernel, each pass by
   10^fusedpasses. */
struct batchplan {
    const struct batchvariant* kernel;
    int32_t fusedpasses;
};

/* The fastest plan this processor supports for a run of cellcount cells:
   the widest instruction set's kernel, in the form that measured fastest
   on the processor's vendor and family, each pass fusing as many as its
   division allows for these cells. */
struct batchplan fastestbatchplan(int32_t cellcount);

/* The kernel of the instruction set that a processor of this vendor
   (intel 1, AMD 0, another -1) and family runs. */
const struct batchvariant* kernelforfamily(const char* instructionset, int intel, int family);

/* A plan with the given kernel for a run of cellcount cells, fusing as
   many passes as its division allows. */
struct batchplan planwith(const struct batchvariant* kernel, int32_t cellcount);

/* The same fusing at most `fusedpasses` passes, for tests. */
struct batchplan planwithfusedpasses(const struct batchvariant* kernel, int32_t cellcount, int32_t fusedpasses);

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
void runbatchportable(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers);
void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
#if defined(PI_X86_KERNELS)
void runbatchavx2(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers);
void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
void runbatchavx2rounddown(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers);
void divideavx2rounddown(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
void runbatchavx512(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers);
void divideavx512(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
#endif
#if defined(PI_NEON_KERNELS)
void runbatchneon(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers);
void divideneon(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
#endif

#endif
