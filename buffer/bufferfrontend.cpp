#include "bufferfrontend.h"

#include <stdio.h>
#include <stdlib.h>

#include "computepi.h"
#include "interruption.h"
#include "terminalprogress.h"

int reportoutofmemory(void)
{
    fputs("Out of memory\n", stderr);
    return status_outofmemory;
}

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

static void showprogress(void* progress, int32_t passesdone)
{
    reportprogress((struct terminalprogress*)progress, passesdone);
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
    /* From here a signal that ends the run tidies up first. */
    cleanuponsignals();
    char* buffer = (char*)malloc((size_t)ndigits + 2);
    int computed = 0;
    if (buffer != NULL) {
        struct terminalprogress progress;
        startprogress(&progress, ndigits);
        const struct passobserver observer = {showprogress, &progress};
        computed = computepiobserved(ndigits, buffer, &observer) == computepi_ok;
        endprogress(&progress);
    }
    if (!computed) {
        free(buffer);
        return reportoutofmemory();
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
