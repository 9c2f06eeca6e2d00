#ifndef BUFFER_COMPUTEPI_H
#define BUFFER_COMPUTEPI_H

#include <stdint.h>

enum computepiresult {
    computepi_ok = 0,
    computepi_outofmemory = 1,
};

/* Writes the digit text for a count of N into buffer, followed by a zero
   byte: "0", then pi from the 3, after exactly N passes of a spigot of
   (10 * N) / 3 cells. Nines still held after the last pass are dropped, so
   the text has at most N + 1 characters; buffer must hold N + 2 bytes.
   0 <= N <= 16953818. Returns computepi_outofmemory, having written
   nothing, when its working memory cannot be allocated. */
int computepi(int32_t ndigits, char* buffer);

/* Told how far the passes have come: with 0 once the cells are made and
   the passes start, then after each batch with the digits' worth of
   passes run so far. */
struct passobserver {
    void (*afterbatch)(void* context, int32_t passesdone);
    void* context;
};

/* computepi, telling observer (unless NULL) how far it has come. */
int computepiobserved(int32_t ndigits, char* buffer, const struct passobserver* observer);

/* The same with given kernels, which this processor must support, for
   (10 * N) / 3 cells (kernels/kernels.h). */
struct batchplan;
int computepiwith(const struct batchplan* plan, int32_t ndigits, char* buffer,
                  const struct passobserver* observer);

/* computepiwith running only its first `groups` groups of batches, as
   the whole run runs them: for benchmarks of the run's own work at counts
   too large to run whole. The text then ends where they leave it. */
int computepigroups(const struct batchplan* plan, int32_t ndigits, char* buffer,
                    const struct passobserver* observer, int32_t groups);

#endif
