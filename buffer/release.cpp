#include "release.h"

#include <string.h>

void startrelease(struct releasestate* state)
{
    state->nines = 0;
    state->predigit = 0;
    state->position = 0;
}

void releasedigit(struct releasestate* state, int32_t digit, char* text)
{
    if (digit == 9) {
        state->nines++;
        return;
    }
    char* out = text + state->position;
    if (digit == 10) {
        /* A carry: the predigit goes up by one and the nines roll over. */
        out[0] = (char)('1' + state->predigit);
        memset(out + 1, '0', (size_t)state->nines);
        state->predigit = 0;
    } else {
        out[0] = (char)('0' + state->predigit);
        memset(out + 1, '9', (size_t)state->nines);
        state->predigit = digit;
    }
    state->position += state->nines + 1;
    state->nines = 0;
}

void finishrelease(const struct releasestate* state, char* text)
{
    text[state->position] = (char)('0' + state->predigit);
    text[state->position + 1] = '\0';
}
