#ifndef BUFFER_KERNELS_H
#define BUFFER_KERNELS_H

#include <stdint.h>

#include "exactdivision.h"
#include "spigotbatch.h"

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
    /* Advances a batch of `passes` passes over the cells (spigotbatch.h)
       as far as it may read no cell below `lowest` (INT32_MIN: to its
       end, when run->done is set and run->carries[p] holds what pass p
       took out of cell 0). */
    void (*advance)(struct spigotbatch* batch, struct batchrun* run, int32_t lowest);
    /* The kernel's exact division on its own, for tests: quotients[i] =
       floor(x[i] / d) given reciprocals[i] = 1 / d and the bias, count a
       multiple of 8. */
    void (*divide)(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
};

/* Every kernel this build has, the portable one first. */
extern const struct batchvariant* const batchvariants[];
extern const int32_t batchvariantcount;

/* How a run's batches are made: by one kernel, each pass by
   10^fusedpasses. Where the cells are more than a block, `groupbatches`
   batches run a block of `blockcells` cells, one after the other, before
   any goes on to the next block down, so that the block stays in the
   cache; the text is the same for any block and group. */
struct batchplan {
    const struct batchvariant* kernel;
    int32_t fusedpasses;
    int32_t blockcells;
    int32_t groupbatches;
};

/* The most cells a plan's block holds and the batches of its group: what
   measured fastest, on second-level caches of 1 MB (Zen 5) and 2 MB
   (Sapphire Rapids). */
enum { defaultblockcells = 128 * 1024, defaultgroupbatches = 8 };

/* The fewest cells a block holds: fewer would make a batch stop and go on
   more often than it works (its state goes to memory and back each time).
   Cells that fit in it run one batch a group, whatever the cache. */
enum { fewestblockcells = 4096 };

/* The cells of a block for a second-level cache of this many bytes: as
   many as fill half of it (4 bytes a cell), so that the block stays
   there beside whatever else the cache holds, and at most
   defaultblockcells; defaultblockcells where the size is not known (0). */
int32_t blockcellsfor(long cachebytes);

/* This processor's second-level cache, in bytes, as the system tells it
   (sysconf, or Linux's /sys); 0 where it does not. */
long secondlevelcachebytes(void);

/* The batches a plan runs in a group over these cells: one while they fit
   in a block. */
int32_t groupedbatches(const struct batchplan* plan, int32_t cellcount);

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

/* What runblocked() tells as it goes: finished(context, g) as batch g
   ends, in order, before the batch after it reads cell 0 (into which
   finishbatch() puts the units back); afterblock(context), unless NULL,
   after every block, every batch in turn. */
struct groupobserver {
    void (*finished)(void* context, int32_t index);
    void (*afterblock)(void* context);
    void* context;
};

/* Runs `count` batches, each set up by startbatchrun(), over the cells in
   blocks of blockcells from the top down: in each block every batch in
   turn, as far down as the block's bottom or the batch before it allows. */
void runblocked(const struct batchvariant* kernel, struct spigotbatch* batch, struct batchrun* runs, int32_t count,
                int32_t blockcells, const struct groupobserver* observer);

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
void advanceportable(struct spigotbatch* batch, struct batchrun* run, int32_t lowest);
void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
#if defined(PI_X86_KERNELS)
void advanceavx2(struct spigotbatch* batch, struct batchrun* run, int32_t lowest);
void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
void advanceavx2rounddown(struct spigotbatch* batch, struct batchrun* run, int32_t lowest);
void divideavx2rounddown(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
void advanceavx512(struct spigotbatch* batch, struct batchrun* run, int32_t lowest);
void divideavx512(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
#endif
#if defined(PI_NEON_KERNELS)
void advanceneon(struct spigotbatch* batch, struct batchrun* run, int32_t lowest);
void divideneon(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias);
#endif

#endif
