/* pi_buffer #DIGITS [FILE]: prints the digit text, or writes it to FILE. */
#include <stdio.h>
#include <stdlib.h>

#include "frontend.h"

int main(int argc, char** argv)
{
    if (argc <= 1) {
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
    /* The text is complete before the file is opened. */
    const int status = argc < 3 ? printtext(text) : savetext(argv[2], text);
    free(text);
    return status;
}
