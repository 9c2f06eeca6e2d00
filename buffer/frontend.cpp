#include "frontend.h"

#include <stdio.h>
#include <stdlib.h>

#include "computepi.h"

int parsedigitcount(const char* text, int32_t* ndigits)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    int negative = 0;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    /* Stop accumulating once past the limit: the value can only grow. */
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= PI_MAXDIGITS) {
            magnitude = magnitude * 10 + (*p - '0');
        }
    }
    if (magnitude > PI_MAXDIGITS || (negative && magnitude != 0)) {
        return 0;
    }
    *ndigits = (int32_t)magnitude;
    return 1;
}

int computetext(int argc, char** argv, char** text)
{
    *text = NULL;
    if (argc < 2) {
        fputs("usage: pi #DIGITS [FILE]", stderr);
        return status_usage;
    }
    int32_t ndigits = 0;
    if (!parsedigitcount(argv[1], &ndigits)) {
        fputs("#DIGITS must be between 0 and 16953818\n", stderr);
        return status_usage;
    }
    char* buffer = (char*)malloc((size_t)ndigits + 2);
    if (buffer == NULL || computepi(ndigits, buffer) != computepi_ok) {
        free(buffer);
        fputs("Out of memory\n", stderr);
        return status_outofmemory;
    }
    *text = buffer;
    return status_success;
}

int printtext(const char* text)
{
    if (puts(text) == EOF || fflush(stdout) == EOF) {
        fputs("Cannot write standard output\n", stderr);
        return status_output;
    }
    return status_success;
}

int savetext(const char* name, const char* text)
{
    FILE* file = fopen(name, "w");
    if (file == NULL) {
        fprintf(stderr, "Cannot open %s\n", name);
        return status_output;
    }
    int failed = fputs(text, file) == EOF;
    failed |= fputc('\n', file) == EOF;
    failed |= fflush(file) == EOF;
    failed |= ferror(file) != 0;
    failed |= fclose(file) == EOF;
    if (failed) {
        fprintf(stderr, "Cannot write %s\n", name);
        return status_output;
    }
    return status_success;
}
