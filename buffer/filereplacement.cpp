#include "filereplacement.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bufferfrontend.h"
#include "interruption.h"

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

static int fsyncdirectory(int descriptor) { return fsync(descriptor); }
static void nothing(const char* temporary) { (void)temporary; }

struct filesystemcalls filesystem = {
    malloc, mkstemp, write, fsync, rename, fsyncdirectory, nothing,
};

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

static int reportcannotwrite(const char* name)
{
    fprintf(stderr, "Cannot write %s\n", name);
    return exitoutput;
}

/* The old way, for what cannot be replaced: devices, FIFOs, and files in
   a directory where no new file can be made. FILE is already open on
   descriptor, which this closes. */
static int writeinplace(const char* name, int descriptor, const struct stat* file, const char* text)
{
    int written = (!S_ISREG(file->st_mode) || ftruncate(descriptor, 0) == 0) &&
                  writeall(descriptor, text, strlen(text)) && writeall(descriptor, "\n", 1);
    written &= close(descriptor) == 0;
    return written ? exitsuccess : reportcannotwrite(name);
}

/* Into found, the path of the file open on descriptor as the kernel
   resolved it, with no symbolic link left in it; 0 when no such path
   names that very file (a rename meanwhile, say). The kernel's own name
   where /proc gives it, otherwise the name resolved again. */
static int resolvedpath(int descriptor, const char* name, const struct stat* file, char found[PATH_MAX])
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    const ssize_t length = readlink(link, found, PATH_MAX - 1);
    if (length > 0 && found[0] == '/') {
        found[length] = '\0';
    } else if (realpath(name, found) == NULL) {
        return 0;
    }
    struct stat named;
    return lstat(found, &named) == 0 && named.st_dev == file->st_dev && named.st_ino == file->st_ino;
}

/* Makes a rename in the directory of target (its first `directory`
   characters) durable. The text has reached FILE by then, so a directory
   that cannot be opened or synced (some file systems refuse) is not a
   failure of the run. */
static void syncdirectory(const char* target, size_t directory)
{
    char* path = (char*)filesystem.allocate(directory + 1);
    if (path == NULL) {
        return;
    }
    memcpy(path, target, directory);
    path[directory] = '\0';
    const int descriptor = open(path, O_RDONLY | O_DIRECTORY);
    free(path);
    if (descriptor >= 0) {
        (void)filesystem.fsyncdirectory(descriptor);
        close(descriptor);
    }
}

/* The owner, group and permission bits of the file replaced (or those the
   kernel gave a new file) for the temporary. An owner or group the runner
   may not give away stays the runner's, as on any file the runner makes. */
static int takeover(int temporary, const struct stat* file)
{
    if (fchown(temporary, file->st_uid, file->st_gid) != 0) {
        (void)!fchown(temporary, (uid_t)-1, file->st_gid);
    }
    return fchmod(temporary, file->st_mode & 07777) == 0;
}

/* Writes the text to a new file beside target, the file open on
   descriptor, and renames it over target once all of it is on the disk,
   so target holds either its old contents or the whole new text, whatever
   fails and whoever else writes it. made: target was new, and has been
   removed again, to be made by the rename. */
static int replacefile(const char* name, const char* target, int descriptor, const struct stat* file,
                       int made, const char* text)
{
    /* ".NAME.XXXXXX" in target's directory: rename stays in one file system. */
    const size_t directory = (size_t)(strrchr(target, '/') - target) + 1;
    char* temporary = (char*)filesystem.allocate(strlen(target) + sizeof "..XXXXXX");
    if (temporary == NULL) {
        close(descriptor);
        return reportoutofmemory();
    }
    memcpy(temporary, target, directory);
    sprintf(temporary + directory, ".%s.XXXXXX", target + directory);
    const int scratch = maketemporary(temporary, filesystem.maketemporary);
    if (scratch < 0) {
        const int reason = errno;
        free(temporary);
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
    int written = takeover(scratch, file) && writeall(scratch, text, strlen(text)) &&
                  writeall(scratch, "\n", 1) && filesystem.fsync(scratch) == 0;
    written &= close(scratch) == 0;
    const int renamed = written && filesystem.rename(temporary, target) == 0;
    const int refused = written && !renamed && (errno == EPERM || errno == EACCES);
    if (!renamed) {
        remove(temporary);
        forgettemporary();
        free(temporary);
        /* A directory that lets FILE be written but not replaced (a
           sticky one, FILE another user's): written in place, as any
           plain write would. */
        if (refused && !made) {
            return writeinplace(name, descriptor, file, text);
        }
        close(descriptor);
        return reportcannotwrite(name);
    }
    forgettemporary();
    close(descriptor);
    syncdirectory(target, directory);
    free(temporary);
    return exitsuccess;
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
    char found[PATH_MAX];
    const int replaceable = S_ISREG(file.st_mode) && resolvedpath(descriptor, name, &file, found);
    const int made = replaceable && !existed && file.st_size == 0 && unlink(found) == 0;
    if (!existed) {
        releasesignals();
    }
    if (!replaceable) {
        return writeinplace(name, descriptor, &file, text);
    }
    return replacefile(name, found, descriptor, &file, made, text);
}
