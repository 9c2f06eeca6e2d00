#ifndef BUFFER_FILEREPLACEMENT_H
#define BUFFER_FILEREPLACEMENT_H

#include <stddef.h>
#include <sys/types.h>

/* Writing the text to FILE. Uses POSIX beside the standard library: open,
   fstat, ftruncate, realpath (or the name /proc gives a descriptor),
   mkstemp, write, fsync, fchown, fchmod, rename and unlink. */

/* Writes text and a line end to the named file, where opening it for
   writing is allowed (otherwise "Cannot open FILE"). A regular file (or
   one that does not exist yet) is replaced whole: the text goes to a new
   file beside it, with its owner, group and permission bits, which is
   renamed over it only once all of it was written and flushed to the
   disk, so on any failure the old file stays as it was. A symbolic link
   leads to the file the kernel resolves it to; devices and FIFOs are
   written in place, and so is a file in a directory where it cannot be
   replaced.
   A run that a signal ends meanwhile removes the temporary (interruption.h).
   Returns an exit status, having reported a failure on standard error. */
int writefile(const char* name, const char* text);

/* The calls that file replacement makes and can fail, the system's own
   by default, so that tests can fail each in turn. */
struct filesystemcalls {
    void* (*allocate)(size_t size);
    int (*maketemporary)(char* pattern);  /* mkstemp */
    ssize_t (*write)(int descriptor, const void* data, size_t size);
    int (*fsync)(int descriptor);
    int (*rename)(const char* from, const char* to);
    int (*fsyncdirectory)(int descriptor);
    /* Told the temporary's name once it exists. */
    void (*temporarymade)(const char* temporary);
};
extern struct filesystemcalls filesystem;

#endif
