/* pi_buffer_discard #DIGITS [FILE]: computes the digit text and drops it;
   FILE is ignored and nothing is written. */
#include <stdio.h>
#include <stdlib.h>

#include "frontend.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fputs(PI_USAGE, stderr);
        return status_usage;
    }
    int32_t ndigits = 0;
    if (!parsedigitcount(argv[1], &ndigits)) {
        fputs(PI_RANGE, stderr);
        return status_usage;
    }
    char* text = computetext(ndigits);
    if (text == NULL) {
        fputs(PI_OUTOFMEMORY, stderr);
        return status_outofmemory;
    }
    free(text);
    return status_success;
}
