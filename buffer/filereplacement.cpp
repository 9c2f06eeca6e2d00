#include "filereplacement.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bufferfrontend.h"
#include "interruption.h"

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

/* Writes text and a line end to an open file, flushes it and closes it.
   Returns 0 when any of that failed; the file is closed either way. */
static int writeandclose(FILE* file, const char* text)
{
    int failed = fputs(text, file) == EOF;
    failed |= fputc('\n', file) == EOF;
    failed |= fflush(file) == EOF;
    failed |= ferror(file) != 0;
    failed |= fclose(file) == EOF;
    return !failed;
}

/* The old way, for what cannot be replaced: devices, FIFOs, and files in
   a directory where no new file can be made. */
static int writeinplace(const char* name, const char* text)
{
    errno = 0;
    FILE* file = fopen(name, "w");
    if (file == NULL) {
        if (errno == ENOMEM) {
            return reportoutofmemory();
        }
        fprintf(stderr, "Cannot open %s\n", name);
        return exitoutput;
    }
    if (!writeandclose(file, text)) {
        return reportcannotwrite(name);
    }
    return exitsuccess;
}

/* The file a name leads to: symbolic links followed to their last target,
   which need not exist yet. A malloc'd path, or NULL when memory runs out. */
static char* followlinks(const char* name)
{
    char* path = (char*)filesystem.allocate(strlen(name) + 1);
    if (path != NULL) {
        strcpy(path, name);
    }
    char target[4096];
    /* Past 40 links (a loop, say) the path is left for fopen to reject. */
    for (int hops = 0; path != NULL && hops < 40; ++hops) {
        struct stat info;
        if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) {
            break;
        }
        const ssize_t length = readlink(path, target, sizeof target - 1);
        if (length < 0) {
            break;
        }
        target[length] = '\0';
        /* A relative target is relative to the link's own directory. */
        const char* slash = strrchr(path, '/');
        const size_t directory = target[0] == '/' || slash == NULL ? 0 : (size_t)(slash - path) + 1;
        char* next = (char*)filesystem.allocate(directory + (size_t)length + 1);
        if (next != NULL) {
            memcpy(next, path, directory);
            memcpy(next + directory, target, (size_t)length + 1);
        }
        free(path);
        path = next;
    }
    return path;
}

/* Makes a rename in the directory of target (its first `directory`
   characters) durable. The text has reached FILE by then, so a directory
   that cannot be opened or synced (some file systems refuse) is not a
   failure of the run. */
static void syncdirectory(const char* target, size_t directory)
{
    char* path = (char*)filesystem.allocate(directory + 2);
    if (path == NULL) {
        return;
    }
    if (directory == 0) {
        strcpy(path, ".");
    } else {
        memcpy(path, target, directory);
        path[directory] = '\0';
    }
    const int descriptor = open(path, O_RDONLY | O_DIRECTORY);
    free(path);
    if (descriptor >= 0) {
        (void)filesystem.fsyncdirectory(descriptor);
        close(descriptor);
    }
}

/* Writes the text to a new file beside target and renames it over target
   once all of it is on the disk, so target holds either its old contents
   or the whole new text, whatever fails and whoever else writes it. */
static int replacefile(const char* name, const char* target, const struct stat* old, const char* text)
{
    /* ".NAME.XXXXXX" in target's directory: rename stays in one file system. */
    const char* slash = strrchr(target, '/');
    const size_t directory = slash == NULL ? 0 : (size_t)(slash - target) + 1;
    char* temporary = (char*)filesystem.allocate(strlen(target) + sizeof "..XXXXXX");
    if (temporary == NULL) {
        return reportoutofmemory();
    }
    memcpy(temporary, target, directory);
    sprintf(temporary + directory, ".%s.XXXXXX", target + directory);
    const int descriptor = maketemporary(temporary, filesystem.maketemporary);
    if (descriptor < 0) {
        const int reason = errno;
        free(temporary);
        if (reason == ENOMEM) {
            return reportoutofmemory();
        }
        /* A full disk would fail the old way too, after truncating FILE. */
        if (reason == ENOSPC || reason == EDQUOT) {
            return reportcannotwrite(name);
        }
        return writeinplace(name, text);
    }
    filesystem.temporarymade(temporary);
    /* mkstemp makes the file 0600: give it the old file's permission bits,
       or those a new file gets (0666 less the umask). */
    mode_t mode = 0;
    if (old != NULL) {
        mode = old->st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    int written = fchmod(descriptor, mode) == 0 && writeall(descriptor, text, strlen(text)) &&
                  writeall(descriptor, "\n", 1) && filesystem.fsync(descriptor) == 0;
    written &= close(descriptor) == 0;
    if (!written || filesystem.rename(temporary, target) != 0) {
        remove(temporary);
        forgettemporary();
        free(temporary);
        return reportcannotwrite(name);
    }
    forgettemporary();
    syncdirectory(target, directory);
    free(temporary);
    return exitsuccess;
}

int writefile(const char* name, const char* text)
{
    char* target = followlinks(name);
    if (target == NULL) {
        return reportoutofmemory();
    }
    struct stat old;
    errno = 0;
    const int exists = stat(target, &old) == 0;
    /* Only a file that does not exist is made anew. A name that cannot be
       looked up (a loop of symbolic links, say) is left to fopen, which
       reports it as the shell would, rather than renamed over. */
    const int status = (exists && !S_ISREG(old.st_mode)) || (!exists && errno != ENOENT)
                           ? writeinplace(name, text)
                           : replacefile(name, target, exists ? &old : NULL, text);
    free(target);
    return status;
}
