#include "filemetadata.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "filereplacement.h"

#if defined(__linux__)
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#define FILEMETADATA_LINUX 1
#endif

/* Whether the kernel lets this process's writes keep set-ID bits. */
static int maykeepsetid(void)
{
#if defined(FILEMETADATA_LINUX)
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    if (syscall(SYS_capget, &header, data) == 0) {
        return (data[CAP_TO_INDEX(CAP_FSETID)].effective & CAP_TO_MASK(CAP_FSETID)) != 0;
    }
#endif
    return geteuid() == 0;
}

mode_t modeafterwrite(mode_t mode)
{
    mode &= 07777;
    if (!maykeepsetid()) {
        mode &= ~(mode_t)S_ISUID;
        if (mode & S_IXGRP) {
            mode &= ~(mode_t)S_ISGID;
        }
    }
    return mode;
}

#if defined(FILEMETADATA_LINUX)

/* A heap block of what a size query and then a read give: a name list or
   a value. Returns its length (0 with *into NULL when empty), -1 on a
   failure with errno set. A file system without extended attributes has
   none (ENOTSUP), for either file. */
typedef ssize_t (*attributeread)(int descriptor, const char* name, char* into, size_t size);

static ssize_t readnames(int descriptor, const char* name, char* into, size_t size)
{
    (void)name;
    const ssize_t length = flistxattr(descriptor, into, size);
    return length < 0 && errno == ENOTSUP ? 0 : length;
}

static ssize_t readvalue(int descriptor, const char* name, char* into, size_t size)
{
    return fgetxattr(descriptor, name, into, size);
}

static ssize_t readwhole(attributeread read, int descriptor, const char* name, char** into)
{
    *into = NULL;
    for (;;) {
        const ssize_t size = read(descriptor, name, NULL, 0);
        if (size <= 0) {
            return size;
        }
        char* block = (char*)filesystem.allocate((size_t)size);
        if (block == NULL) {
            errno = ENOMEM;
            return -1;
        }
        const ssize_t length = read(descriptor, name, block, (size_t)size);
        if (length >= 0) {
            *into = block;
            return length;
        }
        free(block);
        if (errno != ERANGE) { /* ERANGE: it grew meanwhile */
            return -1;
        }
    }
}

static int listed(const char* names, ssize_t length, const char* name)
{
    for (const char* at = names; at < names + length; at += strlen(at) + 1) {
        if (strcmp(at, name) == 0) {
            return 1;
        }
    }
    return 0;
}

static enum attributematch failure(void)
{
    return errno == ENOMEM ? attributesnomemory : attributesdiffer;
}

/* The copy's value of name made the original's, left alone where it is
   already (a label the runner may not set but the copy was given). */
static enum attributematch matchvalue(int original, int copy, const char* name)
{
    char* wanted = NULL;
    char* present = NULL;
    const ssize_t wantedlength = readwhole(readvalue, original, name, &wanted);
    if (wantedlength < 0) {
        return failure();
    }
    const ssize_t presentlength = readwhole(readvalue, copy, name, &present);
    enum attributematch match = attributesmatch;
    if (presentlength < 0 && errno == ENOMEM) {
        match = attributesnomemory;
    } else if (presentlength != wantedlength || (wantedlength > 0 && memcmp(wanted, present, (size_t)wantedlength) != 0)) {
        if (filesystem.setattribute(copy, name, wanted, (size_t)wantedlength, 0) != 0) {
            match = failure();
        }
    }
    free(wanted);
    free(present);
    return match;
}

enum attributematch matchattributes(int original, int copy)
{
    char* wanted = NULL;
    char* present = NULL;
    const ssize_t wantedlength = readwhole(readnames, original, NULL, &wanted);
    if (wantedlength < 0) {
        return failure();
    }
    const ssize_t presentlength = readwhole(readnames, copy, NULL, &present);
    enum attributematch match = presentlength < 0 ? failure() : attributesmatch;
    for (const char* name = present; match == attributesmatch && name < present + presentlength;
         name += strlen(name) + 1) {
        if (!listed(wanted, wantedlength, name) && fremovexattr(copy, name) != 0) {
            match = failure();
        }
    }
    for (const char* name = wanted; match == attributesmatch && name < wanted + wantedlength;
         name += strlen(name) + 1) {
        match = matchvalue(original, copy, name);
    }
    free(wanted);
    free(present);
    return match;
}

/* The flags chattr sets (those the kernel keeps for itself, such as
   whether the data is inline, say how the text is stored, not the file),
   with the project a quota counts the file under. */
struct inodeflags {
    int flagsread;
    int flags;
    int projectread;
    unsigned project;
};

static struct inodeflags inodeflagsof(int descriptor)
{
    struct inodeflags found = {0, 0, 0, 0};
    found.flagsread = ioctl(descriptor, FS_IOC_GETFLAGS, &found.flags) == 0;
    found.flags &= FS_FL_USER_MODIFIABLE | FS_NOCOMP_FL | FS_JOURNAL_DATA_FL | FS_NOCOW_FL | FS_DAX_FL;
    struct fsxattr extended;
    memset(&extended, 0, sizeof extended);
    found.projectread = ioctl(descriptor, FS_IOC_FSGETXATTR, &extended) == 0;
    found.project = extended.fsx_projid;
    return found;
}

int sameinodeflags(int original, int copy)
{
    const struct inodeflags a = inodeflagsof(original);
    const struct inodeflags b = inodeflagsof(copy);
    return a.projectread == b.projectread && a.flagsread == b.flagsread && a.flags == b.flags && a.project == b.project;
}

#else

enum attributematch matchattributes(int original, int copy)
{
    (void)original;
    (void)copy;
    return attributesmatch;
}

int sameinodeflags(int original, int copy)
{
    (void)original;
    (void)copy;
    return 1;
}

#endif
