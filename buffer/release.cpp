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

void splitdigits(int64_t value, int32_t count, uint8_t* digits)
{
    for (int32_t i = count - 1; i > 0; --i) {
        digits[i] = (uint8_t)(value % 10);
        value /= 10;
    }
    digits[0] = (uint8_t)value;
}

void releasedigits(struct releasestate* state, int64_t value, int32_t count, char* text)
{
    uint8_t digits[32];
    splitdigits(value, count, digits);
    for (int32_t i = 0; i < count; ++i) {
        releasedigit(state, digits[i], text);
    }
}
