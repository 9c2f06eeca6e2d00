#include "filemetadata.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "filereplacement.h"

#if defined(__linux__)
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#define GENERATOR_FILEMETADATA_LINUX 1
#endif

namespace generator {

namespace {

// Whether the kernel lets this process's writes keep set-ID bits.
bool maykeepsetid()
{
#if defined(GENERATOR_FILEMETADATA_LINUX)
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) == 0) {
        return (data[CAP_TO_INDEX(CAP_FSETID)].effective & CAP_TO_MASK(CAP_FSETID)) != 0;
    }
#endif
    return ::geteuid() == 0;
}

}  // namespace

mode_t modeafterwrite(mode_t mode)
{
    mode &= 07777;
    if (!maykeepsetid()) {
        mode &= ~static_cast<mode_t>(S_ISUID);
        if ((mode & S_IXGRP) != 0) {
            mode &= ~static_cast<mode_t>(S_ISGID);
        }
    }
    return mode;
}

#if defined(GENERATOR_FILEMETADATA_LINUX)

namespace {

// What a size query and then a read give (a name list, a value), or
// nothing with errno set. A file system without extended attributes has
// none (ENOTSUP), for either file.
template <typename reader>
std::optional<std::vector<char>> readwhole(reader read)
{
    for (;;) {
        const ssize_t size = read(nullptr, 0);
        if (size < 0) {
            return std::nullopt;
        }
        std::vector<char> block(static_cast<std::size_t>(size));
        if (size == 0) {
            return block;
        }
        const ssize_t length = read(block.data(), block.size());
        if (length >= 0) {
            block.resize(static_cast<std::size_t>(length));
            return block;
        }
        if (errno != ERANGE) {  // ERANGE: it grew meanwhile
            return std::nullopt;
        }
    }
}

std::optional<std::vector<char>> namesof(int descriptor)
{
    return readwhole([descriptor](char* into, std::size_t size) {
        const ssize_t length = ::flistxattr(descriptor, into, size);
        return length < 0 && errno == ENOTSUP ? 0 : length;
    });
}

std::optional<std::vector<char>> valueof(int descriptor, const char* name)
{
    return readwhole([=](char* into, std::size_t size) { return ::fgetxattr(descriptor, name, into, size); });
}

// The names of a list, each ended by a zero byte.
std::vector<std::string_view> split(const std::vector<char>& names)
{
    std::vector<std::string_view> split;
    for (std::size_t at = 0; at < names.size(); at += split.back().size() + 1) {
        split.emplace_back(names.data() + at);
    }
    return split;
}

// The flags chattr sets (those the kernel keeps for itself, such as
// whether the data is inline, say how the text is stored, not the file),
// with the project a quota counts the file under.
struct inodeflags {
    bool flagsread = false;
    int flags = 0;
    bool projectread = false;
    unsigned project = 0;
    bool operator==(const inodeflags&) const = default;
};

inodeflags inodeflagsof(int descriptor)
{
    inodeflags found;
    found.flagsread = ::ioctl(descriptor, FS_IOC_GETFLAGS, &found.flags) == 0;
    found.flags &= FS_FL_USER_MODIFIABLE | FS_NOCOMP_FL | FS_JOURNAL_DATA_FL | FS_NOCOW_FL | FS_DAX_FL;
    fsxattr extended{};
    found.projectread = ::ioctl(descriptor, FS_IOC_FSGETXATTR, &extended) == 0;
    found.project = extended.fsx_projid;
    return found;
}

}  // namespace

bool matchattributes(int original, int copy)
{
    const auto wanted = namesof(original);
    const auto present = namesof(copy);
    if (!wanted || !present) {
        if (errno == ENOMEM) {
            throw std::bad_alloc();
        }
        return false;
    }
    const std::vector<std::string_view> wantednames = split(*wanted);
    for (const std::string_view name : split(*present)) {
        if (std::find(wantednames.begin(), wantednames.end(), name) == wantednames.end() &&
            ::fremovexattr(copy, name.data()) != 0) {
            return false;
        }
    }
    // A value the copy has already is left alone: a label the runner may
    // not set, but the copy was given.
    for (const std::string_view name : wantednames) {
        const auto value = valueof(original, name.data());
        if (!value) {
            return false;
        }
        if (valueof(copy, name.data()) != value &&
            filesystem.setattribute(copy, name.data(), value->data(), value->size(), 0) != 0) {
            return false;
        }
    }
    return true;
}

bool sameinodeflags(int original, int copy) { return inodeflagsof(original) == inodeflagsof(copy); }

#else

bool matchattributes(int, int) { return true; }
bool sameinodeflags(int, int) { return true; }

#endif

}  // namespace generator
