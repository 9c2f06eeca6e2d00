#include "progressline.h"

#include "interruption.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double monotonicseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

size_t progresstext(char* line, size_t size, int32_t done, int32_t total, double elapsed)
{
    const int percent = total > 0 ? (int)(100 * (int64_t)done / total) : 100;
    /* The passes all cost the same, so the rest takes as long per pass. */
    double left = done > 0 ? ceil(elapsed * (double)(total - done) / (double)done) : 0.0;
    /* A million hours is beyond any run; the cap keeps the integers below small. */
    if (!(left < 3.6e9)) {
        left = 3.6e9;
    }
    const int64_t seconds = (int64_t)left;
    const int64_t minutes = (seconds + 30) / 60;  /* half a minute rounds up */
    int length = 0;
    if (seconds < 120) {
        length = snprintf(line, size, "%d%% of %d digits, about %d s left", percent, (int)total,
                          (int)seconds);
    } else if (minutes < 120) {
        length = snprintf(line, size, "%d%% of %d digits, about %d min left", percent, (int)total,
                          (int)minutes);
    } else {
        length = snprintf(line, size, "%d%% of %d digits, about %lld h %d min left", percent,
                          (int)total, (long long)(minutes / 60), (int)(minutes % 60));
    }
    return length < 0 ? 0 : (size_t)length < size ? (size_t)length : size - 1;
}

int progressdue(double started, double lastdrawn, double now)
{
    if (lastdrawn < 0.0) {
        return now - started >= PROGRESS_DELAY;
    }
    return now - lastdrawn >= PROGRESS_INTERVAL;
}

void startprogress(struct progressline* progress, int32_t total)
{
    progress->enabled = isatty(STDERR_FILENO);
    progress->total = total;
    progress->started = progress->enabled ? monotonicseconds() : 0.0;
    progress->workstarted = progress->started;
    progress->lastdrawn = -1.0;
    progress->shownlength = 0;
}

/* Overwrites the line with `length` characters of text, padded with spaces
   over whatever longer line was there. */
static void drawline(struct progressline* progress, const char* text, size_t length)
{
    char line[128];
    size_t width = length > progress->shownlength ? length : progress->shownlength;
    if (width > sizeof line - 3) {
        width = sizeof line - 3;
    }
    line[0] = '\r';
    memcpy(line + 1, text, length < width ? length : width);
    if (length < width) {
        memset(line + 1 + length, ' ', width - length);
    }
    size_t end = 1 + width;
    if (length == 0) {
        line[end++] = '\r';  /* erased: the cursor goes back to the start */
    }
    /* A signal while the line is drawn erases all it may cover. */
    noteprogressline(width);
    fwrite(line, 1, end, stderr);
    fflush(stderr);
    progress->shownlength = length;
    noteprogressline(length);
}

void reportprogress(struct progressline* progress, int32_t done)
{
    /* A finished run has nothing left to show: its line is erased next. */
    if (!progress->enabled || done >= progress->total) {
        return;
    }
    const double now = monotonicseconds();
    if (done == 0) {
        progress->workstarted = now;
        return;
    }
    if (!progressdue(progress->started, progress->lastdrawn, now)) {
        return;
    }
    char text[96];
    const size_t length = progresstext(text, sizeof text, done, progress->total, now - progress->workstarted);
    drawline(progress, text, length);
    progress->lastdrawn = now;
}

void endprogress(struct progressline* progress)
{
    if (progress->enabled && progress->shownlength > 0) {
        drawline(progress, "", 0);
    }
}
