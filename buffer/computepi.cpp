#include "computepi.h"

#include <stdlib.h>

#include "release.h"

/* One pass from cell len - 1 down to cell 0; returns its raw digit, 0..10.
   Cell j is A[j + 1]: multiplier j + 1, divisor 2j + 1. The carry entering
   a cell is at most 18, so x < 38 * len fits in 32 bits for N <= 16953818. */
static int32_t spigotpass(int32_t* cells, int32_t len)
{
    int32_t q = 0;
    for (int32_t j = len - 1; j >= 0; --j) {
        const int32_t x = 10 * cells[j] + q * (j + 1);
        cells[j] = x % (2 * j + 1);
        q = x / (2 * j + 1);
    }
    /* Cell 0 has divisor 1, so q holds all of x: the cell keeps its units,
       the tens are the raw digit. */
    cells[0] = q % 10;
    return q / 10;
}

int computepi(int32_t ndigits, char* buffer)
{
    const int32_t len = ndigits * 10 / 3;
    int32_t* cells = (int32_t*)malloc(sizeof(int32_t) * (size_t)(len > 0 ? len : 1));
    if (cells == NULL) {
        return computepi_outofmemory;
    }
    for (int32_t j = 0; j < len; ++j) {
        cells[j] = 2;
    }
    struct releasestate state;
    startrelease(&state);
    for (int32_t pass = 0; pass < ndigits; ++pass) {
        releasedigit(&state, spigotpass(cells, len), buffer);
    }
    finishrelease(&state, buffer);
    free(cells);
    return computepi_ok;
}
