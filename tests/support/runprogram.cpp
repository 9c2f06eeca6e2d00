#include "runprogram.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

int openforwrite(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + path);
    }
    return fd;
}

// Async-signal-safe, for the child between fork and exec. rlim_t is 32 bits
// on 32-bit targets; callers keep their caps below 4 GiB.
void setlimit(int resource, unsigned long long value)
{
    const auto cap = static_cast<rlim_t>(value);
    const rlimit limit{cap, cap};
    ::setrlimit(resource, &limit);
}

// The launcher's words, the program, its arguments and a null, pointing
// into the strings given.
std::vector<char*> commandline(const std::string& program, const std::vector<std::string>& args,
                               const runoptions& options)
{
    std::vector<char*> argv;
    for (const std::string& word : options.launcher) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// In the child: the launcher is found on the path, the program is not.
[[noreturn]] void execute(const std::vector<char*>& argv, const runoptions& options)
{
    if (options.launcher.empty()) {
        ::execv(argv[0], argv.data());
    } else {
        ::execvp(argv[0], argv.data());
    }
    ::_exit(127);
}

// In the child, before exec: the signals stay ignored across it.
void ignoresignals(const runoptions& options)
{
    for (const int signal : options.ignoredsignals) {
        ::signal(signal, SIG_IGN);
    }
}

void waitforexit(pid_t child, runresult& result, double seconds)
{
    bool hung = false;
    const int wstatus = waitforchild(child, seconds, hung);
    result.hung = result.hung || hung;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
}

using steadyclock = std::chrono::steady_clock;

steadyclock::time_point after(double seconds)
{
    return steadyclock::now() + std::chrono::duration_cast<steadyclock::duration>(
                                    std::chrono::duration<double>(seconds));
}

void reporthang(pid_t child, double seconds)
{
    std::cerr << "child " << child << " still running after " << seconds << " s: killed as hung\n";
}

}  // namespace

std::optional<runresult> runonterminal(const std::string& program,
                                       const std::vector<std::string>& args,
                                       const runoptions& options)
{
    std::vector<char*> argv = commandline(program, args, options);
    const int outfd = options.stdoutpath.empty() ? -1 : openforwrite(options.stdoutpath);
    const int errfd = options.stderrpath.empty() ? -1 : openforwrite(options.stderrpath);
    // Raw, so that the bytes read are the bytes written: no \r before \n.
    termios raw{};
    ::cfmakeraw(&raw);
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, &raw, nullptr);
    if (child == 0) {
        if (outfd >= 0) {
            ::dup2(outfd, STDOUT_FILENO);
        }
        if (errfd >= 0) {
            ::dup2(errfd, STDERR_FILENO);
        }
        ignoresignals(options);
        execute(argv, options);
    }
    for (const int fd : {outfd, errfd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (child < 0) {
        return std::nullopt;  // no pseudo-terminals here (no /dev/pts, say)
    }
    runresult result;
    bool signalled = options.signalonprogress == 0;
    const auto since = [started = steadyclock::now()] {
        return std::chrono::duration<double>(steadyclock::now() - started).count();
    };
    result.hung = readuntilclosed(terminal, result.out, child, options.hangseconds, [&] {
        // Every progress line ends in "left".
        if (!signalled && result.out.find(" left") != std::string::npos) {
            ::kill(child, options.signalonprogress);
            signalled = true;
            result.signalledafter = since();
        }
    });
    ::close(terminal);
    // A child killed as hung has its own time to die.
    waitforexit(child, result, result.hung ? options.hangseconds : std::max(0.0, options.hangseconds - since()));
    result.seconds = since();
    return result;
}

bool readuntilclosed(int fd, std::string& into, pid_t child, double seconds,
                     const std::function<void()>& onchunk)
{
    const auto deadline = after(seconds);
    bool killed = false;
    char chunk[4096];
    for (;;) {
        if (!killed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - steadyclock::now());
            pollfd readable{fd, POLLIN, 0};
            const int ready = ::poll(&readable, 1, static_cast<int>(std::max<long long>(0, left.count())));
            if (ready == 0) {
                reporthang(child, seconds);
                ::kill(child, SIGKILL);
                killed = true;
                continue;
            }
            if (ready < 0 && errno == EINTR) {
                continue;
            }
        }
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            into.append(chunk, static_cast<std::size_t>(got));
            if (onchunk) {
                onchunk();
            }
        } else if (got == 0 || errno != EINTR) {
            break;  // end of file, or EIO once the child has closed its side of a terminal
        }
    }
    return killed;
}

int waitforchild(pid_t child, double seconds, bool& hung)
{
    // Looks often at first, so that a short run costs no time, then less.
    const auto deadline = after(seconds);
    auto pause = std::chrono::microseconds(50);
    int wstatus = 0;
    for (;;) {
        const pid_t ended = ::waitpid(child, &wstatus, WNOHANG);
        if (ended == child || (ended < 0 && errno != EINTR)) {
            return wstatus;
        }
        if (steadyclock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
    reporthang(child, seconds);
    ::kill(child, SIGKILL);
    hung = true;
    while (::waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
    }
    return wstatus;
}

runresult runprogram(const std::string& program, const std::vector<std::string>& args,
                     const runoptions& options)
{
    scratchdirectory captures;
    const std::string outpath =
        options.stdoutpath.empty() ? captures.path("stdout") : options.stdoutpath;
    const std::string errpath = captures.path("stderr");
    const int outfd = openforwrite(outpath);
    const int errfd = openforwrite(errpath);

    std::vector<char*> argv = commandline(program, args, options);
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::dup2(outfd, STDOUT_FILENO);
        ::dup2(errfd, STDERR_FILENO);
        if (!options.workingdirectory.empty() && ::chdir(options.workingdirectory.c_str()) != 0) {
            ::_exit(126);
        }
        if (options.addressspacelimit != 0) {
            setlimit(RLIMIT_AS, options.addressspacelimit);
        }
        if (options.filesizelimit != 0) {
            ::signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec
            setlimit(RLIMIT_FSIZE, options.filesizelimit);
        }
        ignoresignals(options);
        if (options.userid != static_cast<uid_t>(-1) &&
            (::setgroups(0, nullptr) != 0 || ::setgid(options.groupid) != 0 || ::setuid(options.userid) != 0)) {
            ::_exit(125);
        }
        execute(argv, options);
    }
    ::close(outfd);
    ::close(errfd);

    runresult result;
    waitforexit(child, result, options.hangseconds);
    if (options.stdoutpath.empty()) {
        result.out = readfile(outpath);
    }
    result.err = readfile(errpath);
    return result;
}

scratchdirectory::scratchdirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pitest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a scratch directory");
    }
    root = pattern;
}

scratchdirectory::~scratchdirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::string readfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writefile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace testsupport
