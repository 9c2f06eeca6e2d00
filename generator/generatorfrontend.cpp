#include "generatorfrontend.h"

#include <stdlib.h>  // mkstemp
#include <sys/stat.h>  // umask
#include <unistd.h>  // fsync, close

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <ostream>
#include <system_error>

#include "pidigits.h"
#include "progressline.h"

namespace generator {

namespace {

constexpr const char* usagemessage = "usage: pi #DIGITS [FILE]";
constexpr const char* rangemessage = "#DIGITS must be between 0 and 16953818\n";
constexpr const char* outofmemorymessage = "Out of memory\n";

// Reached when not even the exception for a failed allocation could be
// made; anything else that ends here is a fault, and aborts as it would.
[[noreturn]] void terminateoutofmemory()
{
    const std::exception_ptr pending = std::current_exception();
    if (pending) {
        try {
            std::rethrow_exception(pending);
        } catch (const std::bad_alloc&) {
        } catch (...) {
            std::abort();
        }
    }
    progressline::eraseshown();
    std::fputs(outofmemorymessage, stderr);
    std::_Exit(exitoutofmemory);
}

bool isatoispace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int64_t readcount(const char* text)
{
    while (isatoispace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (magnitude <= maxdigits) {
            magnitude = magnitude * 10 + (*text - '0');
        }
    }
    if (magnitude > maxdigits) {
        magnitude = std::int64_t{maxdigits} + 1;
    }
    return negative ? -magnitude : magnitude;
}

std::optional<std::int32_t> digitcount(const char* text)
{
    const std::int64_t count = readcount(text);
    if (count < 0 || count > maxdigits) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(count);
}

int reportoutofmemory(std::ostream& err)
{
    err << outofmemorymessage;
    return exitoutofmemory;
}

void reportoutofmemoryonterminate() { std::set_terminate(terminateoutofmemory); }

int buildtext(int argc, char** argv, std::ostream& err, std::string& text)
{
    if (argc <= 1) {
        err << usagemessage << std::endl;
        return exitusage;
    }
    const std::optional<std::int32_t> count = digitcount(argv[1]);
    if (!count) {
        err << rangemessage;
        return exitusage;
    }
    // The text has count + 1 characters, each costing about one pass.
    // The line goes with `progress`, before anything else is written.
    progressline progress(*count, *count + 1, err, standarderroristerminal());
    text = pidigits(*count, [&progress](std::int32_t made) { progress.report(made); });
    return exitsuccess;
}

int writestandardoutput(std::ostream& out, std::ostream& err, const std::string& text)
{
    out << text << '\n' << std::flush;
    if (!out) {
        err << "Cannot write standard output\n";
        return exitoutput;
    }
    return exitsuccess;
}

namespace {

namespace fs = std::filesystem;

int reportcannotwrite(const char* name, std::ostream& err)
{
    err << "Cannot write " << name << '\n';
    return exitoutput;
}

// The old way, for what cannot be replaced: devices, FIFOs, and files in a
// directory where no new file can be made.
int writeinplace(const char* name, std::ostream& err, const std::string& text)
{
    errno = 0;
    std::ofstream file(name);
    if (!file.is_open()) {
        if (errno == ENOMEM) {
            throw std::bad_alloc();
        }
        err << "Cannot open " << name << '\n';
        return exitoutput;
    }
    file << text << '\n' << std::flush;
    file.close();
    if (!file) {
        return reportcannotwrite(name, err);
    }
    return exitsuccess;
}

// The file a name leads to: symbolic links followed to their last target,
// which need not exist yet. Past 40 links (a loop, say) the path is left
// for the open to reject.
fs::path followlinks(const char* name)
{
    fs::path path(name);
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            break;
        }
        // A relative target is relative to the link's own directory.
        path = path.parent_path() / target;
    }
    return path;
}

// Removes a temporary file when it goes, unless it was renamed into place.
struct temporaryfile {
    std::string name;
    int descriptor = -1;
    bool kept = false;
    ~temporaryfile()
    {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        if (!kept) {
            std::remove(name.c_str());
        }
    }
};

}  // namespace

int writefile(const char* name, std::ostream& err, const std::string& text)
{
    const fs::path target = followlinks(name);
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    if (fs::exists(old) && !fs::is_regular_file(old)) {
        return writeinplace(name, err, text);
    }
    // ".NAME.XXXXXX" in target's directory, so the rename stays in one file
    // system; mkstemp makes it 0600, and no standard call makes a file
    // that must not exist yet.
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".XXXXXX";
    temporaryfile temporary;
    temporary.name = (target.parent_path() / hidden).string();
    temporary.descriptor = ::mkstemp(temporary.name.data());
    if (temporary.descriptor < 0) {
        const int reason = errno;
        temporary.kept = true;  // nothing was made
        if (reason == ENOMEM) {
            throw std::bad_alloc();
        }
        // A full disk would fail the old way too, after truncating FILE.
        if (reason == ENOSPC || reason == EDQUOT) {
            return reportcannotwrite(name, err);
        }
        return writeinplace(name, err, text);
    }
    std::ofstream file(temporary.name);
    file << text << '\n' << std::flush;
    file.close();
    // The old file's permission bits, or those a new file gets: 0666 less
    // the umask.
    fs::perms mode = old.permissions();
    if (!fs::exists(old)) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = static_cast<fs::perms>(0666 & ~mask);
    }
    fs::permissions(temporary.name, mode, ec);
    if (!file || ec || ::fsync(temporary.descriptor) != 0) {
        return reportcannotwrite(name, err);
    }
    fs::rename(temporary.name, target, ec);
    if (ec) {
        return reportcannotwrite(name, err);
    }
    temporary.kept = true;
    return exitsuccess;
}

}  // namespace generator
