#ifndef BUFFER_BUFFERFRONTEND_H
#define BUFFER_BUFFERFRONTEND_H

#include <stdint.h>

/* What the two buffer programs share: reading the digit count, writing the
   text, the messages and the exit statuses. */

enum {
    exitsuccess = 0,
    exitusage = 1,
    exitoutput = 2,
    exitoutofmemory = 3,
};

enum {
    /* The largest N with 38 * ((10 * N) / 3) <= 2^31 - 1: every value of a
       pass stays in 32 bits up to it. */
    maxdigits = 16953818,
};

/* Reads text as atoi does (leading white space, an optional sign, digits to
   the first non-digit, no digits reading as 0) without overflowing, and
   stores the count in *ndigits. Returns 0 when the count is negative or
   above maxdigits. */
int digitcount(const char* text, int32_t* ndigits);

/* Checks the command line and computes the text for its digit count into
   a heap buffer, stored in *text for the caller to free. On a missing count,
   a count out of range or memory running out, reports on standard error and
   returns the exit status, with *text NULL; otherwise exitsuccess. */
int buildtext(int argc, char** argv, char** text);

/* Writes text and a line end to standard output and flushes it. Returns an
   exit status, having reported a failure on standard error. */
int writestandardoutput(const char* text);

/* "Out of memory" on standard error; returns exitoutofmemory. */
int reportoutofmemory(void);

#endif
