#ifndef BUFFER_PROGRESSLINE_H
#define BUFFER_PROGRESSLINE_H

#include <stddef.h>
#include <stdint.h>

/* A line on standard error, rewritten in place, that tells how far a long
   run has come: "42% of 100000 digits, about 3 s left". Only when standard
   error is a terminal, and only once the run has gone on for a second; it
   is erased before anything else is written. */

/* Seconds a run goes on before its progress shows, and between redraws. */
#if defined(PI_PROGRESS_DELAY)
#define PROGRESS_DELAY PI_PROGRESS_DELAY
#else
#define PROGRESS_DELAY 1.0
#endif
#define PROGRESS_INTERVAL 0.25

struct progressline {
    int enabled;          /* standard error is a terminal */
    int32_t total;        /* passes the run makes */
    double started;       /* seconds on the monotonic clock */
    double workstarted;   /* when the passes started, which the rate counts from */
    double lastdrawn;     /* when the line was last drawn, or -1 */
    size_t shownlength;   /* characters on the line now, 0 when erased */
};

/* Formats the line for `done` passes of `total` after `elapsed` seconds;
   returns its length (at most size - 1). */
size_t progresstext(char* line, size_t size, int32_t done, int32_t total, double elapsed);

/* Whether to draw at `now`, given when the run started and when the line
   was last drawn (-1 for never). */
int progressdue(double started, double lastdrawn, double now);

void startprogress(struct progressline* progress, int32_t total);

/* After each batch of passes: redraws the line when it is due. With 0
   done, before the first: the work starts now, and setting it up (making
   the cells) does not count in the rate the time left follows. */
void reportprogress(struct progressline* progress, int32_t done);

/* Erases the line if it shows. Call before writing anything else. */
void endprogress(struct progressline* progress);

#endif
