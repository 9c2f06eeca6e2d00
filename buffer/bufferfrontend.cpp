#include "bufferfrontend.h"

#include <stdio.h>
#include <stdlib.h>

#include "computepi.h"
#include "interruption.h"
#include "progressline.h"

int reportoutofmemory(void)
{
    fputs("Out of memory\n", stderr);
    return exitoutofmemory;
}

int digitcount(const char* text, int32_t* ndigits)
{
    /* strtoll reads what atoi reads, in the "C" locale the programs keep,
       and saturates where atoi would overflow. */
    const long long count = strtoll(text, NULL, 10);
    if (count < 0 || count > maxdigits) {
        return 0;
    }
    *ndigits = (int32_t)count;
    return 1;
}

static void showprogress(void* progress, int32_t passesdone)
{
    reportprogress((struct progressline*)progress, passesdone);
}

int buildtext(int argc, char** argv, char** text)
{
    *text = NULL;
    if (argc < 2) {
        fputs("usage: pi #DIGITS [FILE]", stderr);
        return exitusage;
    }
    int32_t ndigits = 0;
    if (!digitcount(argv[1], &ndigits)) {
        fprintf(stderr, "#DIGITS must be between 0 and %d\n", maxdigits);
        return exitusage;
    }
    /* From here a signal that ends the run tidies up first. */
    cleanuponsignals();
    char* buffer = (char*)malloc((size_t)ndigits + 2);
    int computed = 0;
    if (buffer != NULL) {
        struct progressline progress;
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
    return exitsuccess;
}

int writestandardoutput(const char* text)
{
    if (puts(text) == EOF || fflush(stdout) == EOF) {
        fputs("Cannot write standard output\n", stderr);
        return exitoutput;
    }
    return exitsuccess;
}
