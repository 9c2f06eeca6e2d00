#include "filereplacement.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

#include "bufferfrontend.h"
#include "filemetadata.h"
#include "interruption.h"

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif
#ifndef NAME_MAX
#define NAME_MAX 255
#endif

static int fsyncdirectory(int descriptor) { return fsync(descriptor); }
static void nothing(const char* temporary) { (void)temporary; }

static int renamein(int directory, const char* from, const char* to)
{
    return renameat(directory, from, directory, to);
}

static int reserve(int descriptor, off_t size)
{
#if defined(__linux__)
    return fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, size);
#else
    (void)descriptor;
    (void)size;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

static int setattribute(int descriptor, const char* name, const void* value, size_t size, int flags)
{
#if defined(__linux__)
    return fsetxattr(descriptor, name, value, size, flags);
#else
    (void)descriptor, (void)name, (void)value, (void)size, (void)flags;
    errno = ENOTSUP;
    return -1;
#endif
}

struct filesystemcalls filesystem = {
    malloc, maketemporaryin, write, fsync, renamein, fsyncdirectory, reserve, setattribute, nothing,
};

int maketemporaryin(int directory, char* pattern)
{
    /* Names no other run can guess often enough to matter: O_EXCL makes
       the file only where the name was free, and a taken one is drawn
       again. */
    static uint64_t state = 0;
    if (state == 0) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        state = ((uint64_t)now.tv_sec << 32) ^ (uint64_t)now.tv_nsec ^ ((uint64_t)getpid() << 20);
    }
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    char* const drawn = pattern + strlen(pattern) - 6;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        uint64_t mixed = state += 0x9E3779B97F4A7C15u;
        mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
        mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
        mixed ^= mixed >> 31;
        for (int i = 0; i < 6; ++i, mixed /= 62) {
            drawn[i] = letters[mixed % 62];
        }
        const int descriptor =
            openat(directory, pattern, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (descriptor >= 0 || errno != EEXIST) {
            return descriptor;
        }
    }
    errno = EEXIST;
    return -1;
}

/* All of size bytes of data, through the descriptor. */
static int writeall(int descriptor, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = filesystem.write(descriptor, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return 0;
        }
        data += written;
        size -= (size_t)written;
    }
    return 1;
}

static int writetext(int descriptor, const char* text)
{
    return writeall(descriptor, text, strlen(text)) && writeall(descriptor, "\n", 1);
}

static int reportcannotwrite(const char* name)
{
    fprintf(stderr, "Cannot write %s\n", name);
    return exitoutput;
}

/* Room on the disk for size bytes of the file, reserved before a byte of
   it is written over: a full disk, a quota or a cap on file size fails
   here, with the old text whole. A file system that reserves nothing
   ahead is written as it comes. */
static int reserveroom(int descriptor, off_t size)
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && (rlim_t)size > limit.rlim_cur) {
        return 0;
    }
    if (filesystem.reserve(descriptor, size) == 0) {
        return 1;
    }
    return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;
}

/* Writes over the file open on descriptor, as a plain write does, and
   closes it: for what cannot be replaced. A regular file has its room
   reserved first, and is written, cut to the text's length and flushed
   with the ending signals held off (milliseconds), so that it holds its
   old text or the new one. */
static int writeinplace(const char* name, int descriptor, const struct stat* file, const char* text)
{
    const off_t length = (off_t)strlen(text) + 1;
    int written = 0;
    if (!S_ISREG(file->st_mode)) {
        written = writetext(descriptor, text);
    } else if (reserveroom(descriptor, length)) {
        holdsignals();
        written = writetext(descriptor, text) && ftruncate(descriptor, length) == 0 &&
                  filesystem.fsync(descriptor) == 0;
        releasesignals();
    }
    written &= close(descriptor) == 0;
    return written ? exitsuccess : reportcannotwrite(name);
}

/* FILE's directory, opened once, and its name there. */
struct fileentry {
    int directory;  /* -1 where it was not found */
    int syncable;   /* opened for reading, as fsync needs */
    char name[NAME_MAX + 1];
};

/* The directory the file open on descriptor was found in, and the file's
   name there, checked to be that very file (device and inode): the
   temporary, the rename and the flush all go through this one descriptor,
   so a directory renamed or swapped on the path meanwhile cannot lead
   them elsewhere. The path is the kernel's own where /proc gives it,
   otherwise the name resolved again. A directory that may be searched
   but not read is opened as a path alone (Linux), and not flushed. 0
   where there is none (a rename meanwhile, say). */
static int findentry(int descriptor, const char* name, const struct stat* file, struct fileentry* entry)
{
    char path[PATH_MAX];
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length > 0 && path[0] == '/') {
        path[length] = '\0';
    } else if (realpath(name, path) == NULL) {
        return 0;
    }
    char* const slash = strrchr(path, '/');
    if (slash == NULL || slash[1] == '\0' || strlen(slash + 1) > NAME_MAX) {
        return 0;
    }
    strcpy(entry->name, slash + 1);
    slash[slash == path ? 1 : 0] = '\0';
    entry->syncable = 1;
    entry->directory = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#if defined(O_PATH)
    if (entry->directory < 0 && errno == EACCES) {
        entry->syncable = 0;
        entry->directory = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
#endif
    struct stat named;
    if (entry->directory >= 0 && fstatat(entry->directory, entry->name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == file->st_dev && named.st_ino == file->st_ino) {
        return 1;
    }
    if (entry->directory >= 0) {
        close(entry->directory);
        entry->directory = -1;
    }
    return 0;
}

/* Makes the temporary the old file, open on descriptor, in all but its
   text: owner and group, the permission bits a write by this process
   would leave, extended attributes (and so ACLs), inode flags. 1 where
   it now is, 0 where something could not be given it, -1 where memory
   ran out. */
static int takeover(int temporary, int descriptor, const struct stat* file)
{
    const mode_t mode = modeafterwrite(file->st_mode);
    if (fchown(temporary, file->st_uid, file->st_gid) != 0 || fchmod(temporary, mode) != 0) {
        return 0;
    }
    const enum attributematch match = matchattributes(descriptor, temporary);
    if (match != attributesmatch) {
        return match == attributesnomemory ? -1 : 0;
    }
    struct stat made;
    return fstat(temporary, &made) == 0 && made.st_uid == file->st_uid && made.st_gid == file->st_gid &&
           (made.st_mode & 07777) == mode && sameinodeflags(descriptor, temporary);
}

/* Writes the text to a new file beside FILE, the file open on descriptor,
   and renames it over FILE once all of it is on the disk, so FILE holds
   either its old contents or the whole new text, whatever fails and
   whoever else writes it. Where the new file cannot be the old one in
   all but its text, or cannot take its place, FILE is written in place.
   made: FILE was new, and has been removed again, to be made by the
   rename; it had what the system gives any new file there, as the
   temporary has, so what cannot be copied of it does not matter. */
static int replacefile(const char* name, int descriptor, const struct stat* file, const struct fileentry* entry,
                       int made, const char* text)
{
    if (!made && file->st_nlink != 1) {
        return writeinplace(name, descriptor, file, text);
    }
    /* ".NAME.XXXXXX" beside FILE, NAME cut short to keep within a name's
       length: a rename stays in one file system. */
    char temporary[NAME_MAX + 1];
    snprintf(temporary, sizeof temporary, ".%.*s.XXXXXX", NAME_MAX - 8, entry->name);
    const int scratch = maketemporary(entry->directory, temporary, filesystem.maketemporary);
    if (scratch < 0) {
        const int reason = errno;
        if (reason == ENOMEM) {
            close(descriptor);
            return reportoutofmemory();
        }
        /* A full disk would fail the old way too, after truncating FILE;
           and a new FILE, removed again, cannot be written in place. */
        if (reason == ENOSPC || reason == EDQUOT || made) {
            close(descriptor);
            return reportcannotwrite(name);
        }
        return writeinplace(name, descriptor, file, text);
    }
    filesystem.temporarymade(temporary);
    const int same = takeover(scratch, descriptor, file);
    int written = (same == 1 || (same == 0 && made)) && writetext(scratch, text) && filesystem.fsync(scratch) == 0;
    written &= close(scratch) == 0;
    const int renamed = written && filesystem.rename(entry->directory, temporary, entry->name) == 0;
    const int reason = errno;
    if (renamed) {
        forgettemporary();
        close(descriptor);
        /* The text has reached FILE by now, so a directory that refuses
           to be flushed (some file systems do) is not a failure. */
        if (entry->syncable) {
            (void)filesystem.fsyncdirectory(entry->directory);
        }
        return exitsuccess;
    }
    unlinkat(entry->directory, temporary, 0);
    forgettemporary();
    if (same == -1) {
        close(descriptor);
        return reportoutofmemory();
    }
    /* Written in place as any plain write would: where the new file
       could not be the old one, and where the directory does not let it
       take FILE's place (a sticky one, FILE another user's; FILE a mount
       point, or on another file system than its name). */
    const int refused = reason == EPERM || reason == EACCES || reason == EBUSY || reason == EXDEV;
    if (!made && (same == 0 || (written && refused))) {
        return writeinplace(name, descriptor, file, text);
    }
    close(descriptor);
    return reportcannotwrite(name);
}

int writefile(const char* name, const char* text)
{
    /* FILE is opened for writing as any plain write opens it, so that the
       kernel makes every check it makes there (permissions, owners, the
       protections on links and files in sticky directories), following
       links itself; a name that leads to no file yet is made as any
       plain create makes it. That new file is removed again at once, to
       be made whole by the rename, with the signals held off so that none
       can leave it behind. */
    struct stat file;
    const int existed = stat(name, &file) == 0 || errno != ENOENT;
    if (!existed) {
        holdsignals();
    }
    int descriptor = -1;
    do {
        descriptor = open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0 || fstat(descriptor, &file) != 0) {
        const int reason = errno;
        if (descriptor >= 0) {
            close(descriptor);
        }
        if (!existed) {
            releasesignals();
        }
        if (reason == ENOMEM) {
            return reportoutofmemory();
        }
        fprintf(stderr, "Cannot open %s\n", name);
        return exitoutput;
    }
    struct fileentry entry = {-1, 0, ""};
    const int found = S_ISREG(file.st_mode) && findentry(descriptor, name, &file, &entry);
    const int made = found && !existed && file.st_size == 0 && unlinkat(entry.directory, entry.name, 0) == 0;
    if (!existed) {
        releasesignals();
    }
    const int status = found ? replacefile(name, descriptor, &file, &entry, made, text)
                             : writeinplace(name, descriptor, &file, text);
    if (entry.directory >= 0) {
        close(entry.directory);
    }
    return status;
}
