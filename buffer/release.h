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

/* Writes the predigit and the terminating zero; held nines are dropped. */
void finishrelease(const struct releasestate* state, char* text);

#endif
