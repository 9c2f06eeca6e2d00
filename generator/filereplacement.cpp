#include "filereplacement.h"

#include <fcntl.h>     // open
#include <limits.h>    // PATH_MAX
#include <stdlib.h>    // mkstemp, realpath
#include <sys/stat.h>  // fstat, fchmod
#include <unistd.h>    // write, fsync, fchown, ftruncate, readlink, unlink, close

#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <ostream>

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

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

int reportcannotwrite(const char* name, std::ostream& err)
{
    err << "Cannot write " << name << '\n';
    return exitoutput;
}

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

bool writetext(int descriptor, const std::string& text)
{
    return writeall(descriptor, text.data(), text.size()) && writeall(descriptor, "\n", 1);
}

// A descriptor closed when it goes, unless closed before, where a failure
// to close (a write the disk refused late) is told.
struct opendescriptor {
    int descriptor;
    bool close()
    {
        const int closed = ::close(descriptor);
        descriptor = -1;
        return closed == 0;
    }
    ~opendescriptor()
    {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
};

// The old way, for what cannot be replaced: devices, FIFOs, and files in a
// directory where no new file can be made. FILE is already open, and is
// closed here.
int writeinplace(const char* name, std::ostream& err, opendescriptor& open, const struct stat& file,
                 const std::string& text)
{
    bool written = (!S_ISREG(file.st_mode) || ::ftruncate(open.descriptor, 0) == 0) &&
                   writetext(open.descriptor, text);
    written &= open.close();
    return written ? exitsuccess : reportcannotwrite(name, err);
}

// Into found, the path of the file open on descriptor as the kernel
// resolved it, with no symbolic link left in it; false when no such path
// names that very file (a rename meanwhile, say). The kernel's own name
// where /proc gives it, otherwise the name resolved again. Allocates
// nothing, so that a new file can be removed again before anything throws.
bool resolvedpath(int descriptor, const char* name, const struct stat& file, std::array<char, PATH_MAX>& found)
{
    std::array<char, 64> link{};
    std::snprintf(link.data(), link.size(), "/proc/self/fd/%d", descriptor);
    const ssize_t length = ::readlink(link.data(), found.data(), found.size() - 1);
    if (length > 0 && found[0] == '/') {
        found[static_cast<std::size_t>(length)] = '\0';
    } else if (::realpath(name, found.data()) == nullptr) {
        return false;
    }
    struct stat named {};
    return ::lstat(found.data(), &named) == 0 && named.st_dev == file.st_dev && named.st_ino == file.st_ino;
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

// Makes a rename in directory durable. The text has reached FILE by then,
// so a directory that cannot be opened or synced (some file systems
// refuse) is not a failure of the run.
void syncdirectory(const std::string& directory) noexcept
{
    const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        (void)filesystem.fsyncdirectory(descriptor);
        ::close(descriptor);
    }
}

// The owner, group and permission bits of the file replaced (or those the
// kernel gave a new file) for the temporary. An owner or group the runner
// may not give away stays the runner's, as on any file the runner makes.
bool takeover(int temporary, const struct stat& file)
{
    if (::fchown(temporary, file.st_uid, file.st_gid) != 0) {
        (void)!::fchown(temporary, static_cast<uid_t>(-1), file.st_gid);
    }
    return ::fchmod(temporary, file.st_mode & 07777) == 0;
}

// Writes the text to a new file beside target, the file open, and renames
// it over target once all of it is on the disk, so target holds either its
// old contents or the whole new text, whatever fails and whoever else
// writes it. made: target was new, and has been
// removed again, to be made by the rename.
int replacefile(const char* name, std::ostream& err, const std::string& target, opendescriptor& open,
                const struct stat& file, bool made, const std::string& text)
{
    // ".NAME.XXXXXX" in target's directory, so the rename stays in one file
    // system; no standard call makes a file that must not exist yet.
    const std::string directory = target.substr(0, target.rfind('/') + 1);
    temporaryfile temporary;
    temporary.name = directory + "." + target.substr(directory.size()) + ".XXXXXX";
    temporary.descriptor = maketemporary(temporary.name, filesystem.maketemporary);
    if (temporary.descriptor < 0) {
        const int reason = errno;
        temporary.kept = true;  // nothing was made
        if (reason == ENOMEM) {
            throw std::bad_alloc();
        }
        // A full disk would fail the old way too, after truncating FILE; and
        // a new FILE, removed again, cannot be written in place.
        if (reason == ENOSPC || reason == EDQUOT || made) {
            return reportcannotwrite(name, err);
        }
        return writeinplace(name, err, open, file, text);
    }
    filesystem.temporarymade(temporary.name.c_str());
    bool written = takeover(temporary.descriptor, file) && writetext(temporary.descriptor, text) &&
                   filesystem.fsync(temporary.descriptor) == 0;
    written &= ::close(temporary.descriptor) == 0;
    temporary.descriptor = -1;
    if (!written) {
        return reportcannotwrite(name, err);
    }
    if (filesystem.rename(temporary.name.c_str(), target.c_str()) != 0) {
        // A directory that lets FILE be written but not replaced (a sticky
        // one, FILE another user's): written in place, as any plain write
        // would.
        if ((errno == EPERM || errno == EACCES) && !made) {
            std::remove(temporary.name.c_str());
            temporary.kept = true;  // removed already
            return writeinplace(name, err, open, file, text);
        }
        return reportcannotwrite(name, err);
    }
    temporary.kept = true;
    syncdirectory(directory);
    return exitsuccess;
}

}  // namespace

int writefile(const char* name, std::ostream& err, const std::string& text)
{
    // FILE is opened for writing as any plain write opens it, so that the
    // kernel makes every check it makes there (permissions, owners, the
    // protections on links and files in sticky directories), following
    // links itself; a name that leads to no file yet is made as any plain
    // create makes it. That new file is removed again at once, to be made
    // whole by the rename, with the signals held off so that none can
    // leave it behind.
    struct stat file {};
    const bool existed = ::stat(name, &file) == 0 || errno != ENOENT;
    if (!existed) {
        holdsignals();
    }
    int descriptor = -1;
    do {
        descriptor = ::open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    opendescriptor opened{descriptor};
    if (descriptor < 0 || ::fstat(descriptor, &file) != 0) {
        const int reason = errno;
        if (!existed) {
            releasesignals();
        }
        if (reason == ENOMEM) {
            throw std::bad_alloc();
        }
        err << "Cannot open " << name << '\n';
        return exitoutput;
    }
    std::array<char, PATH_MAX> found{};
    const bool replaceable = S_ISREG(file.st_mode) && resolvedpath(descriptor, name, file, found);
    const bool made = replaceable && !existed && file.st_size == 0 && ::unlink(found.data()) == 0;
    if (!existed) {
        releasesignals();
    }
    if (!replaceable) {
        return writeinplace(name, err, opened, file, text);
    }
    return replacefile(name, err, found.data(), opened, file, made, text);
}

}  // namespace generator
