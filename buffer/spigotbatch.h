#ifndef BUFFER_SPIGOTBATCH_H
#define BUFFER_SPIGOTBATCH_H

#include <stdint.h>

/* The spigot's state as the batched kernels see it.

   A batch runs P passes together, pass k + 1 one cell behind pass k: at
   each step the P passes work on P neighbouring cells, each with its own
   carry, so the P carry chains are independent and fill vector lanes. The
   cell a pass leaves is the one the next pass takes at the next step; one
   untouched cell enters the batch and one finished cell leaves it per
   step. How a kernel moves cells between its lanes is its own (kernels/).
   Cell j's multiplier j + 1, divisor 2j + 1 and reciprocal follow from
   its number, so the vector kernels work them out as the cell enters a
   batch; only the portable kernel, which has no cell entering, reads its
   reciprocals from a table.

   Cells are 32-bit integers in memory: every cell is a remainder, below
   its divisor 2j + 1 < 2^31. A batch widens each to a double as it enters
   and narrows it as it leaves (every value of a pass is an integer below
   2^53, exactdivision.h), so the conversions are once per cell per batch:
   4 bytes a cell, 12 with a table. The arrays are padded by
   BATCH_PADDING cells on both sides, so that filling and draining the
   pipeline need no special case:
   - above the top cell, zero cells meet zero carries and stay zero;
   - below cell 0, cells with multiplier 1 and divisor 1 (reciprocal 1;
     the kernels clamp the other two) pass a carry on unchanged, so a
     pass that has finished keeps its carry to the end.
   Cell 0 itself runs with divisor 1 like the cells below it: each pass
   hands out 10^k * A[1] + carry whole and leaves a zero behind. Cell 0 is
   a pass's last cell, so nothing else depends on it, and finishbatch()
   puts the units back in, pass by pass, once the batch is done. */

/* At least the largest batch of any kernel, and its steps past the end. */
#define BATCH_PADDING 144

struct spigotbatch {
    int32_t cellcount;
    /* The cells, and, for a kernel that reads a table, their reciprocals
       1 / (2j + 1) rounded (1 below cell 0; NULL otherwise). */
    int32_t* cells;
    double* reciprocals;
    void* block;
};

/* Sets up cellcount cells of 2, with a table of their reciprocals when
   `tabled`, in one sweep over memory, on huge pages where the system
   gives them. Returns 0 when memory runs out. */
int openbatch(struct spigotbatch* batch, int32_t cellcount, int tabled);
void closebatch(struct spigotbatch* batch);

/* One batch on its way down the cells. A kernel advances it as far as it
   may (kernels.h); a batch that follows another reads only cells the one
   before has finished, so several can run a block of cells at a time. */
struct batchrun {
    /* What pass p multiplies by, 10^k, and the bias of the batch's
       division. */
    double powers[BATCH_PADDING];
    double bias;
    /* The next step's lowest cell: the batch has finished every cell from
       bottom + passes up and read none below bottom. */
    int32_t bottom;
    int32_t stepsleft;
    int32_t started;
    int32_t done;
    /* Once done: what pass p took out of cell 0. */
    double carries[BATCH_PADDING];
    /* The kernel's own between advances: the values in flight and the
       numbers travelling with the cells. */
    alignas(64) double inflight[BATCH_PADDING];
    alignas(64) double ring[3 * BATCH_PADDING];
};

/* A batch not started, pass p by powers[p], dividing with `bias`. */
void startbatchrun(struct batchrun* run, const double* powers, int32_t passes, double bias);

/* The lowest cell a batch that follows `run` may read: none the batch
   has not finished. */
int32_t lowestafter(const struct batchrun* run, int32_t passes);

/* How much of its steps a batch has run, 0 to 1: of the work of its
   passes, which costs the same at every step. */
double batchshare(const struct batchrun* run, int32_t cellcount, int32_t passes);

/* After a batch of `passes` passes, pass p by powers[p] = 10^k: turns the
   carries each pass took out of cell 0 into the value of its k raw
   digits, sum of d_i 10^(k - i), and restores cell 0. */
void finishbatch(struct spigotbatch* batch, const double* carries, const double* powers, int32_t passes,
                 int64_t* values);

#endif
