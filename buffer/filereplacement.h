#ifndef BUFFER_FILEREPLACEMENT_H
#define BUFFER_FILEREPLACEMENT_H

#include <stddef.h>
#include <sys/types.h>

/* Writing the text to FILE. Uses POSIX beside the standard library: open,
   openat, fstat, fstatat, fchown, fchmod, write, ftruncate, fsync,
   renameat, unlinkat, realpath (or the name /proc gives a descriptor),
   and Linux's fallocate and extended attributes (filemetadata.h). */

/* Writes text and a line end to the named file, where opening it for
   writing is allowed (otherwise "Cannot open FILE"), and changes nothing
   of it but its text.
   A regular file with one name (or one that does not exist yet) is
   replaced whole where a new file can be made that is the old one in all
   but its text (owner, group, permission bits, extended attributes and
   so ACLs, inode flags): the text goes to a new file beside it, in the
   directory the open file was found in, which is renamed over it only
   once all of it was written and flushed to the disk, so on any failure
   the old file stays as it was.
   Everything else is written in place, as a plain write does it: a file
   with other names, one whose owner or attributes the runner cannot give
   a new file, one in a directory where it cannot be replaced (no new file
   allowed, a sticky directory, a mount point), devices and FIFOs. A
   regular file then first gets the room for the text reserved, so that a
   full disk leaves its old text whole, and is written, cut to the text's
   length and flushed with the ending signals held off.
   A run that a signal ends meanwhile removes the temporary (interruption.h).
   Returns an exit status, having reported a failure on standard error. */
int writefile(const char* name, const char* text);

/* The calls that file replacement makes and can fail, the system's own
   by default, so that tests can fail each in turn. */
struct filesystemcalls {
    void* (*allocate)(size_t size);
    /* Makes the file named by pattern, its last six characters replaced,
       in directory, as mkstemp makes one. */
    int (*maketemporary)(int directory, char* pattern);
    ssize_t (*write)(int descriptor, const void* data, size_t size);
    int (*fsync)(int descriptor);
    int (*rename)(int directory, const char* from, const char* to);
    int (*fsyncdirectory)(int descriptor);
    /* Room on the disk for size bytes of the file, its size kept. */
    int (*reserve)(int descriptor, off_t size);
    int (*setattribute)(int descriptor, const char* name, const void* value, size_t size, int flags);
    /* Told the temporary's name once it exists. */
    void (*temporarymade)(const char* temporary);
};
extern struct filesystemcalls filesystem;

/* The seam's default for maketemporary. */
int maketemporaryin(int directory, char* pattern);

#endif
