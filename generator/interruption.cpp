#include "interruption.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace generator {

namespace {

// Copies, so that the handler reads nothing that may be freed.
char temporaryname[256];
volatile sig_atomic_t temporarydirectory = -1;
volatile sig_atomic_t hastemporary = 0;
volatile sig_atomic_t progresslength = 0;

constexpr std::array endingsignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void cleanupanddie(int signal)
{
    if (hastemporary) {
        ::unlinkat(temporarydirectory, temporaryname, 0);
    }
    if (progresslength > 0) {
        // Spaces over the line, the cursor back at its start.
        char line[130];
        const auto length = static_cast<std::size_t>(progresslength);
        line[0] = '\r';
        std::memset(line + 1, ' ', length);
        line[length + 1] = '\r';
        (void)!::write(STDERR_FILENO, line, length + 2);
    }
    struct sigaction bydefault {};
    bydefault.sa_handler = SIG_DFL;
    ::sigaction(signal, &bydefault, nullptr);
    ::raise(signal);
}

}  // namespace

void cleanuponsignals()
{
    for (const int signal : endingsignals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction cleanup {};
        cleanup.sa_handler = cleanupanddie;
        sigfillset(&cleanup.sa_mask);
        ::sigaction(signal, &cleanup, nullptr);
    }
}

namespace {
sigset_t heldbefore;
}

void holdsignals()
{
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : endingsignals) {
        sigaddset(&ending, signal);
    }
    ::sigprocmask(SIG_BLOCK, &ending, &heldbefore);
}

void releasesignals()
{
    const int reason = errno;
    ::sigprocmask(SIG_SETMASK, &heldbefore, nullptr);
    errno = reason;
}

int maketemporary(int directory, std::string& pattern, int (*make)(int directory, char* pattern))
{
    holdsignals();
    const int descriptor = make(directory, pattern.data());
    if (descriptor >= 0 && pattern.size() < sizeof temporaryname) {
        std::memcpy(temporaryname, pattern.c_str(), pattern.size() + 1);
        temporarydirectory = directory;
        hastemporary = 1;
    }
    releasesignals();
    return descriptor;
}

void forgettemporary() { hastemporary = 0; }

void noteprogressline(std::size_t length)
{
    progresslength = static_cast<sig_atomic_t>(length < 128 ? length : 128);
}

}  // namespace generator
