#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "runprogram.h"

namespace testsupport {

struct childresult {
    int status;       // as waitpid gives it
    std::string err;  // what the child wrote to standard error
    bool hung = false;  // killed, still running after runoptions::defaulthangseconds
};

// Runs body in a forked child, which then exits 0 unless body ended it,
// and collects how it ended and its standard error: for code that ends
// the process, such as a signal handler.
template <typename function>
childresult inchild(function body)
{
    int pipeends[2];
    if (::pipe(pipeends) != 0) {
        return {-1, ""};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeends[1], STDERR_FILENO);
        ::close(pipeends[0]);
        ::close(pipeends[1]);
        body();
        ::_exit(0);
    }
    ::close(pipeends[1]);
    childresult result{-1, ""};
    const double hangseconds = runoptions::defaulthangseconds;
    result.hung = readuntilclosed(pipeends[0], result.err, pid, hangseconds);
    ::close(pipeends[0]);
    result.status = waitforchild(pid, hangseconds, result.hung);
    return result;
}

}  // namespace testsupport
