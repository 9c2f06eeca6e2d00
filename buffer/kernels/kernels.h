#ifndef BUFFER_KERNELS_H
#define BUFFER_KERNELS_H

#include <stdint.h>

#include "exactdivision.h"
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
    /* Passes per batch: the lanes of all the vectors it keeps in flight. */
    int32_t passes;
    /* Whether it runs the float cells (below the crossing, spigotbatch.h)
       rather than the doubles. Floats hold a pass by 10 alone. */
    int infloats;
    /* The most cells its region may have: a float holds every value up
       to cell FLOATDIVISION_LASTCELL; doubles serve every run. */
    int32_t mostcells;
    /* In doubles, how it divides, which bounds the passes it may fuse. */
    enum divisionform form;
    /* Whether it reads the reciprocals from a table rather than working
       them out as cells enter. */
    int tabled;
    /* For a float kernel, the double kernel of its instruction set, which
       runs the cells above the floats; its passes divide this one's. */
    const struct batchvariant* doublesabove;
    /* Whether this processor can run it. */
    int (*supported)(void);
    /* Runs `passes` passes over the batch's cells of its precision, pass p
       bringing carriesin[p] (NULL: nothing) into their top cell, and
       stores in carriesout[p] the carry pass p hands below their bottom
       one: out of cell 0 for the floats, or for the doubles when no cell
       is a float (see spigotbatch.h). */
    void (*runbatch)(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                     const struct fusedpowers* powers);
    /* The kernel's exact division on its own, for tests. In doubles:
       quotients[i] = floor(x[i] / d) given reciprocals[i] = 1 / d and the
       bias, count a multiple of 8; NULL in single precision, which has
       dividefloats: the bias form, or (corrected != 0) the corrected one. */
    void (*divide)(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
    void (*dividefloats)(const struct floatdivisions* divisions, int corrected);
};

/* Every kernel this build has, the portable one first. */
extern const struct batchvariant* const batchvariants[];
extern const int32_t batchvariantcount;

/* How a run's batches are made: cells [0, crossing) by the float kernel,
   the rest by the double one, run passes / doubles->passes times per
   batch, each pass by 10^fusedpasses (1 with floats). A kernel without
   cells is NULL. */
struct batchplan {
    const struct batchvariant* floats;
    const struct batchvariant* doubles;
    int32_t crossing;
    int32_t passes;
    int32_t fusedpasses;
};

/* The fastest plan this processor supports for a run of cellcount cells:
   the widest instruction set's doubles, each pass fusing as many as its
   division allows for these cells. */
struct batchplan fastestbatchplan(int32_t cellcount);

/* A plan with the given kernel for a run of cellcount cells: a float
   kernel takes every cell a float serves and its doubles the rest, one
   pass at a time; a double kernel takes them all, fusing as many passes
   as its division allows. */
struct batchplan planwith(const struct batchvariant* kernel, int32_t cellcount);

/* The same with the floats stopping at the given crossing instead (at
   most what they serve), for tests. */
struct batchplan planwithcrossing(const struct batchvariant* kernel, int32_t cellcount, int32_t crossing);

/* A double kernel's plan fusing at most `fusedpasses` passes, for tests. */
struct batchplan planwithfusedpasses(const struct batchvariant* kernel, int32_t cellcount, int32_t fusedpasses);

/* One batch by the plan: the doubles, then the floats with the carries
   the doubles handed down; carriesout[p] is what pass p took out of
   cell 0. */
void runplannedbatch(const struct batchplan* plan, struct spigotbatch* batch, double* carriesout,
                     const struct fusedpowers* powers);

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
void runbatchportable(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers);
void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
#if defined(PI_X86_KERNELS)
void runbatchavx2(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers);
void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
void runbatchavx2float(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers);
void divideavx2float(const struct floatdivisions* divisions, int corrected);
void runbatchavx512(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers);
void divideavx512(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
void runbatchavx512float(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers);
void divideavx512float(const struct floatdivisions* divisions, int corrected);
#endif
#if defined(PI_NEON_KERNELS)
void runbatchneon(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers);
void divideneon(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
void runbatchneonfloat(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers);
void divideneonfloat(const struct floatdivisions* divisions, int corrected);
#endif

#endif
