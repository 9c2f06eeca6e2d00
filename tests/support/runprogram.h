#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct runoptions {
    // Where standard output goes: a capture file (the terminal, for
    // runonterminal) unless this names a path (such as /dev/full) to open
    // instead.
    std::string stdoutpath;
    // For runonterminal: a file for standard error instead of the terminal.
    std::string stderrpath;
    // Signals the program starts with ignored, as nohup starts it.
    std::vector<int> ignoredsignals;
    // For runonterminal: sent to the program once its progress line shows.
    int signalonprogress = 0;
    // Caps the child's address space, in bytes, to make allocations fail.
    unsigned long long addressspacelimit = 0;
    // Caps the size of any file the child writes, in bytes, to make a
    // write fail part-way (with EFBIG rather than a signal).
    unsigned long long filesizelimit = 0;
    std::string workingdirectory;
    // Runs the program as this user and group, with no supplementary
    // groups (only root may): unless -1, the runner's own.
    uid_t userid = static_cast<uid_t>(-1);
    gid_t groupid = static_cast<gid_t>(-1);
    // Runs the program through this command (an emulator and its
    // arguments) when the tests are built for another processor.
    std::vector<std::string> launcher;
    // A run still going this long after it started is taken for hung and
    // killed. Only a hang reaches it: an emulated, sanitized run on a
    // loaded machine ends far sooner.
    double hangseconds = defaulthangseconds;
    static constexpr double defaulthangseconds = 600.0;
};

struct runresult {
    int status = -1;  // exit status, or -1 if the child did not exit normally
    int signal = 0;   // the signal that ended it, or 0
    std::string out;
    std::string err;
    bool hung = false;  // killed after hangseconds (status -1, signal SIGKILL)
    // For runonterminal: seconds from the start to the end of the run, and
    // to signalonprogress being sent (-1 if it was not).
    double seconds = 0.0;
    double signalledafter = -1.0;
};

// Runs a program as a user would, with args after argv[0], and captures its
// exit status and the bytes it wrote to standard output and standard error.
runresult runprogram(const std::string& program, const std::vector<std::string>& args,
                     const runoptions& options = {});

// Runs a program on a new pseudo-terminal, as standard input, output and
// error (but for the streams options send to files), and returns how it
// ended and every byte it wrote there (in `out`; raw mode, so a line end
// is one '\n'). Nothing when this system cannot make a pseudo-terminal.
std::optional<runresult> runonterminal(const std::string& program,
                                       const std::vector<std::string>& args,
                                       const runoptions& options = {});

// Reads fd until every writer has closed it, appending what arrives to
// `into` and calling onchunk after each read. If child, a writer, has not
// closed it `seconds` from now, kills child and reads what is left; the
// return value says whether that happened.
bool readuntilclosed(int fd, std::string& into, pid_t child, double seconds,
                     const std::function<void()>& onchunk = {});

// Waits for child to end and returns its status as waitpid gives it. If it
// has not ended `seconds` from now, kills it and sets hung.
int waitforchild(pid_t child, double seconds, bool& hung);

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object goes.
class scratchdirectory {
public:
    scratchdirectory();
    ~scratchdirectory();
    scratchdirectory(const scratchdirectory&) = delete;
    scratchdirectory& operator=(const scratchdirectory&) = delete;

    std::string path(const std::string& name) const { return root + "/" + name; }
    const std::string& str() const { return root; }

private:
    std::string root;
};

std::string readfile(const std::string& path);
void writefile(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

// True in a build with AddressSanitizer, whose shadow memory needs more
// address space than any cap that makes a real allocation fail.
// GCC says so with __SANITIZE_ADDRESS__, Clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define TESTSUPPORT_ADDRESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESTSUPPORT_ADDRESS_SANITIZED 1
#endif
#endif
#if defined(TESTSUPPORT_ADDRESS_SANITIZED)
constexpr bool addresssanitized = true;
#else
constexpr bool addresssanitized = false;
#endif

}  // namespace testsupport
