#include "filereplacement.h"

#include <fcntl.h>     // open
#include <stdlib.h>    // mkstemp
#include <sys/stat.h>  // umask
#include <unistd.h>    // write, fsync, close

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <ostream>
#include <system_error>

#include "generatorfrontend.h"
#include "interruption.h"

namespace generator {

filesystemcalls filesystem = {
    ::mkstemp,
    ::write,
    ::fsync,
    ::rename,
    ::fsync,
    [](const char*) {},
};

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
        forgettemporary();
    }
};

// All of data, through the descriptor.
bool writeall(int descriptor, const char* data, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t written = filesystem.write(descriptor, data + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Makes the rename of target durable by syncing its directory. The text
// has reached FILE by then, so a directory that cannot be opened or synced
// (some file systems refuse), or memory running out for its name, is not
// a failure of the run.
void syncdirectory(const fs::path& target) noexcept
{
    try {
        const fs::path directory = target.parent_path();
        const std::string name = directory.empty() ? std::string(".") : directory.string();
        const int descriptor = ::open(name.c_str(), O_RDONLY | O_DIRECTORY);
        if (descriptor >= 0) {
            (void)filesystem.fsyncdirectory(descriptor);
            ::close(descriptor);
        }
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

int writefile(const char* name, std::ostream& err, const std::string& text)
{
    const fs::path target = followlinks(name);
    std::error_code ec;
    const fs::file_status old = fs::status(target, ec);
    // Only a file that does not exist is made anew. A name that cannot be
    // looked up (a loop of symbolic links, say) is left to the open, which
    // reports it, rather than renamed over.
    if ((fs::exists(old) && !fs::is_regular_file(old)) || !fs::status_known(old)) {
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
    temporary.descriptor = maketemporary(temporary.name, filesystem.maketemporary);
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
    filesystem.temporarymade(temporary.name.c_str());
    const bool written = writeall(temporary.descriptor, text.data(), text.size()) &&
                         writeall(temporary.descriptor, "\n", 1);
    // The old file's permission bits, or those a new file gets: 0666 less
    // the umask.
    fs::perms mode = old.permissions();
    if (!fs::exists(old)) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = static_cast<fs::perms>(0666 & ~mask);
    }
    fs::permissions(temporary.name, mode, ec);
    if (!written || ec || filesystem.fsync(temporary.descriptor) != 0) {
        return reportcannotwrite(name, err);
    }
    if (filesystem.rename(temporary.name.c_str(), target.c_str()) != 0) {
        return reportcannotwrite(name, err);
    }
    temporary.kept = true;
    syncdirectory(target);
    return exitsuccess;
}

}  // namespace generator
