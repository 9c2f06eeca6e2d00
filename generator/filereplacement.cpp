#include "filereplacement.h"

#include <fcntl.h>         // open, openat, fallocate
#include <limits.h>        // PATH_MAX, NAME_MAX
#include <stdlib.h>        // realpath
#include <sys/resource.h>  // getrlimit
#include <sys/stat.h>      // fstat, fstatat, fchmod
#include <unistd.h>        // write, fsync, fchown, ftruncate, readlink, unlinkat, close
#if defined(__linux__)
#include <sys/xattr.h>  // fsetxattr
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <string_view>

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif
#ifndef NAME_MAX
#define NAME_MAX 255
#endif

#include "filemetadata.h"
#include "generatorfrontend.h"
#include "interruption.h"

namespace generator {

namespace {

int renamein(int directory, const char* from, const char* to)
{
    return ::renameat(directory, from, directory, to);
}

int reserve(int descriptor, off_t size)
{
#if defined(__linux__)
    return ::fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, size);
#else
    (void)descriptor, (void)size;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

int setattribute(int descriptor, const char* name, const void* value, std::size_t size, int flags)
{
#if defined(__linux__)
    return ::fsetxattr(descriptor, name, value, size, flags);
#else
    (void)descriptor, (void)name, (void)value, (void)size, (void)flags;
    errno = ENOTSUP;
    return -1;
#endif
}

}  // namespace

filesystemcalls filesystem = {
    maketemporaryin, ::write, ::fsync, renamein, ::fsync, reserve, setattribute, [](const char*) {},
};

int maketemporaryin(int directory, char* pattern)
{
    // Names no other run can guess often enough to matter: O_EXCL makes
    // the file only where the name was free, and a taken one is drawn
    // again.
    static std::uint64_t state = static_cast<std::uint64_t>(
        std::chrono::system_clock::now().time_since_epoch().count() ^ (static_cast<long long>(::getpid()) << 20));
    constexpr std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    char* const drawn = pattern + std::strlen(pattern) - 6;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::uint64_t mixed = state += 0x9E3779B97F4A7C15u;
        mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
        mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
        mixed ^= mixed >> 31;
        for (int i = 0; i < 6; ++i, mixed /= letters.size()) {
            drawn[i] = letters[mixed % letters.size()];
        }
        const int descriptor =
            ::openat(directory, pattern, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (descriptor >= 0 || errno != EEXIST) {
            return descriptor;
        }
    }
    errno = EEXIST;
    return -1;
}

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
    int descriptor = -1;
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

// Room on the disk for size bytes of the file, reserved before a byte of
// it is written over: a full disk, a quota or a cap on file size fails
// here, with the old text whole. A file system that reserves nothing ahead
// is written as it comes.
bool reserveroom(int descriptor, off_t size)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(size) > limit.rlim_cur) {
        return false;
    }
    if (filesystem.reserve(descriptor, size) == 0) {
        return true;
    }
    return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;
}

// Writes over the file open, as a plain write does, and closes it: for
// what cannot be replaced. A regular file has its room reserved first, and
// is written, cut to the text's length and flushed with the ending signals
// held off (milliseconds), so that it holds its old text or the new one.
int writeinplace(const char* name, std::ostream& err, opendescriptor& open, const struct stat& file,
                 const std::string& text)
{
    const auto length = static_cast<off_t>(text.size() + 1);
    bool written = false;
    if (!S_ISREG(file.st_mode)) {
        written = writetext(open.descriptor, text);
    } else if (reserveroom(open.descriptor, length)) {
        holdsignals();
        written = writetext(open.descriptor, text) && ::ftruncate(open.descriptor, length) == 0 &&
                  filesystem.fsync(open.descriptor) == 0;
        releasesignals();
    }
    written &= open.close();
    return written ? exitsuccess : reportcannotwrite(name, err);
}

// FILE's directory, opened once, and its name there.
struct fileentry {
    opendescriptor directory;  // -1 where it was not found
    bool syncable = false;     // opened for reading, as fsync needs
    std::array<char, NAME_MAX + 1> name{};
};

// The directory the file open on descriptor was found in, and the file's
// name there, checked to be that very file (device and inode): the
// temporary, the rename and the flush all go through this one descriptor,
// so a directory renamed or swapped on the path meanwhile cannot lead them
// elsewhere. The path is the kernel's own where /proc gives it, otherwise
// the name resolved again. A directory that may be searched but not read
// is opened as a path alone (Linux), and not flushed. False where there is
// none (a rename meanwhile, say). Allocates nothing, so that a new file can
// be removed again before anything throws.
bool findentry(int descriptor, const char* name, const struct stat& file, fileentry& entry)
{
    std::array<char, PATH_MAX> path{};
    std::array<char, 64> link{};
    std::snprintf(link.data(), link.size(), "/proc/self/fd/%d", descriptor);
    const ssize_t length = ::readlink(link.data(), path.data(), path.size() - 1);
    if (length > 0 && path[0] == '/') {
        path[static_cast<std::size_t>(length)] = '\0';
    } else if (::realpath(name, path.data()) == nullptr) {
        return false;
    }
    char* const slash = std::strrchr(path.data(), '/');
    if (slash == nullptr || slash[1] == '\0' || std::strlen(slash + 1) > NAME_MAX) {
        return false;
    }
    std::strcpy(entry.name.data(), slash + 1);
    slash[slash == path.data() ? 1 : 0] = '\0';
    entry.syncable = true;
    entry.directory.descriptor = ::open(path.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#if defined(O_PATH)
    if (entry.directory.descriptor < 0 && errno == EACCES) {
        entry.syncable = false;
        entry.directory.descriptor = ::open(path.data(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
#endif
    struct stat named {};
    if (entry.directory.descriptor >= 0 &&
        ::fstatat(entry.directory.descriptor, entry.name.data(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == file.st_dev && named.st_ino == file.st_ino) {
        return true;
    }
    if (entry.directory.descriptor >= 0) {
        entry.directory.close();
    }
    return false;
}

// Makes the temporary the old file, open on descriptor, in all but its
// text: owner and group, the permission bits a write by this process would
// leave, extended attributes (and so ACLs), inode flags. False where
// something could not be given it.
bool takeover(int temporary, int descriptor, const struct stat& file)
{
    const mode_t mode = modeafterwrite(file.st_mode);
    if (::fchown(temporary, file.st_uid, file.st_gid) != 0 || ::fchmod(temporary, mode) != 0 ||
        !matchattributes(descriptor, temporary)) {
        return false;
    }
    struct stat made {};
    return ::fstat(temporary, &made) == 0 && made.st_uid == file.st_uid && made.st_gid == file.st_gid &&
           (made.st_mode & 07777) == mode && sameinodeflags(descriptor, temporary);
}

// Removes a temporary file when it goes, unless it was renamed into place.
struct temporaryfile {
    int directory;
    std::string name;
    int descriptor = -1;
    bool kept = false;
    bool close()
    {
        const int closed = ::close(descriptor);
        descriptor = -1;
        return closed == 0;
    }
    void remove()
    {
        if (descriptor >= 0) {
            ::close(descriptor);
            descriptor = -1;
        }
        if (!kept) {
            ::unlinkat(directory, name.c_str(), 0);
            kept = true;
        }
        forgettemporary();
    }
    ~temporaryfile() { remove(); }
};

// Writes the text to a new file beside FILE, the file open, and renames it
// over FILE once all of it is on the disk, so FILE holds either its old
// contents or the whole new text, whatever fails and whoever else writes
// it. Where the new file cannot be the old one in all but its text, or
// cannot take its place, FILE is written in place. made: FILE was new, and
// has been removed again, to be made by the rename; it had what the system
// gives any new file there, as the temporary has, so what cannot be copied
// of it does not matter.
int replacefile(const char* name, std::ostream& err, opendescriptor& open, const struct stat& file,
                const fileentry& entry, bool made, const std::string& text)
{
    if (!made && file.st_nlink != 1) {
        return writeinplace(name, err, open, file, text);
    }
    // ".NAME.XXXXXX" beside FILE, NAME cut short to keep within a name's
    // length: a rename stays in one file system.
    temporaryfile temporary{entry.directory.descriptor, "."};
    temporary.name.append(entry.name.data(), std::min<std::size_t>(std::strlen(entry.name.data()), NAME_MAX - 8));
    temporary.name += ".XXXXXX";
    temporary.descriptor = maketemporary(temporary.directory, temporary.name, filesystem.maketemporary);
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
    const bool same = takeover(temporary.descriptor, open.descriptor, file);
    bool written = (same || made) && writetext(temporary.descriptor, text) &&
                   filesystem.fsync(temporary.descriptor) == 0;
    written &= temporary.close();
    const bool renamed =
        written && filesystem.rename(temporary.directory, temporary.name.c_str(), entry.name.data()) == 0;
    const int reason = errno;
    if (renamed) {
        temporary.kept = true;
        temporary.remove();
        open.close();
        // The text has reached FILE by now, so a directory that refuses to
        // be flushed (some file systems do) is not a failure.
        if (entry.syncable) {
            (void)filesystem.fsyncdirectory(entry.directory.descriptor);
        }
        return exitsuccess;
    }
    temporary.remove();
    // Written in place as any plain write would: where the new file could
    // not be the old one, and where the directory does not let it take
    // FILE's place (a sticky one, FILE another user's; FILE a mount point,
    // or on another file system than its name).
    const bool refused = reason == EPERM || reason == EACCES || reason == EBUSY || reason == EXDEV;
    if (!made && (!same || (written && refused))) {
        return writeinplace(name, err, open, file, text);
    }
    return reportcannotwrite(name, err);
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
    fileentry entry;
    const bool found = S_ISREG(file.st_mode) && findentry(descriptor, name, file, entry);
    const bool made = found && !existed && file.st_size == 0 &&
                      ::unlinkat(entry.directory.descriptor, entry.name.data(), 0) == 0;
    if (!existed) {
        releasesignals();
    }
    if (!found) {
        return writeinplace(name, err, opened, file, text);
    }
    return replacefile(name, err, opened, file, entry, made, text);
}

}  // namespace generator
