#include "interruption.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

/* Copies, so that the handler reads nothing that may be freed. */
static char temporaryname[256];
static volatile sig_atomic_t temporarydirectory = -1;
static volatile sig_atomic_t hastemporary = 0;
static volatile sig_atomic_t progresslength = 0;

static const int endingsignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

static void cleanupanddie(int signal)
{
    if (hastemporary) {
        unlinkat(temporarydirectory, temporaryname, 0);
    }
    if (progresslength > 0) {
        /* Spaces over the line, the cursor back at its start. */
        char line[130];
        const size_t length = (size_t)progresslength;
        line[0] = '\r';
        memset(line + 1, ' ', length);
        line[length + 1] = '\r';
        (void)!write(STDERR_FILENO, line, length + 2);
    }
    struct sigaction bydefault;
    memset(&bydefault, 0, sizeof bydefault);
    bydefault.sa_handler = SIG_DFL;
    sigaction(signal, &bydefault, NULL);
    raise(signal);
}

void cleanuponsignals(void)
{
    for (size_t i = 0; i < sizeof endingsignals / sizeof endingsignals[0]; ++i) {
        struct sigaction old;
        if (sigaction(endingsignals[i], NULL, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction cleanup;
        memset(&cleanup, 0, sizeof cleanup);
        cleanup.sa_handler = cleanupanddie;
        sigfillset(&cleanup.sa_mask);
        sigaction(endingsignals[i], &cleanup, NULL);
    }
}

static sigset_t heldbefore;

void holdsignals(void)
{
    sigset_t ending;
    sigemptyset(&ending);
    for (size_t i = 0; i < sizeof endingsignals / sizeof endingsignals[0]; ++i) {
        sigaddset(&ending, endingsignals[i]);
    }
    sigprocmask(SIG_BLOCK, &ending, &heldbefore);
}

void releasesignals(void)
{
    const int reason = errno;
    sigprocmask(SIG_SETMASK, &heldbefore, NULL);
    errno = reason;
}

int maketemporary(int directory, char* pattern, int (*make)(int directory, char* pattern))
{
    holdsignals();
    const int descriptor = make(directory, pattern);
    if (descriptor >= 0 && strlen(pattern) < sizeof temporaryname) {
        strcpy(temporaryname, pattern);
        temporarydirectory = directory;
        hastemporary = 1;
    }
    releasesignals();
    return descriptor;
}

void forgettemporary(void) { hastemporary = 0; }

void noteprogressline(size_t length)
{
    progresslength = (sig_atomic_t)(length < 128 ? length : 128);
}
