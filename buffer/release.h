#ifndef BUFFER_RELEASE_H
#define BUFFER_RELEASE_H

#include <stdint.h>

/* The eager release rule: each raw digit other than 9 writes the held
   predigit and every nine held behind it at once. */
struct releasestate {
    int32_t nines;     /* raw nines held back, not yet written */
    int32_t predigit;  /* the held digit, 0..8 */
    int32_t position;  /* index in the text of the next character */
};

void startrelease(struct releasestate* state);

/* Takes one raw digit, 0 to 10, and writes what it releases. */
void releasedigit(struct releasestate* state, int32_t digit, char* text);

/* Takes the k raw digits of one pass by 10^k as their value, sum of d_i
   10^(k - i), at most 11 10^(k-1) - 1. The text depends only on that
   value (below), so it is split into k digits of 0 to 10, the first
   taking what exceeds 9, and each is taken as above.

   Why: the characters written so far, then the predigit, then the held
   nines as 9s spell the sum of the raw digits so far, each in its place,
   and the predigit is never 9. So the written text, the predigit and the
   count of held nines follow from that sum and the number of digits
   taken, whichever digits made it up. */
void releasedigits(struct releasestate* state, int64_t value, int32_t count, char* text);

/* The k digits of 0 to 10 with the given value, the first taking what
   exceeds 9: digits[0] = value div 10^(k-1), then the decimal digits. */
void splitdigits(int64_t value, int32_t count, uint8_t* digits);

/* Writes the predigit and the terminating zero; held nines are dropped. */
void finishrelease(const struct releasestate* state, char* text);

#endif
