#pragma once

#include <sys/types.h>

// What a file carries besides its text, for a new file that is to take an
// old one's place: the permission bits a write leaves, the extended
// attributes (POSIX ACLs are among them) and the inode flags. Extended
// attributes and inode flags are Linux's (flistxattr, fgetxattr,
// fsetxattr, fremovexattr and the FS_IOC_ ioctls, all in the C library);
// elsewhere a file is taken to carry none.
namespace generator {

// The permission bits a write by this process leaves on a file of this
// mode: without the capability to keep them (CAP_FSETID, which root
// holds), the kernel clears set-user-ID, and set-group-ID where the group
// may execute.
mode_t modeafterwrite(mode_t mode);

// Gives the file open on copy exactly the extended attributes of the one
// open on original, names and values: sets what differs, removes what the
// original lacks (an ACL the directory's default gave the copy). False
// where one could not be read, set or removed; std::bad_alloc where
// memory runs out.
bool matchattributes(int original, int copy);

// The two files' inode flags (chattr's) and project are the same, or
// neither file system has them.
bool sameinodeflags(int original, int copy);

}  // namespace generator
