// The printing programs write FILE only where a plain write could: the
// kernel's permissions, owners and link protections hold for them as for
// the shell's `>`. Run as an unprivileged user: root, which CI runs as,
// may write anything, so as root the programs run as nobody.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "programpaths.h"
#include "runprogram.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readfile;
using testsupport::writefile;

constexpr uid_t nobody = 65534;
const bool asroot = ::geteuid() == 0;

struct fileinfo {
    std::string text;
    uid_t owner;
    gid_t group;
    unsigned mode;
    bool operator==(const fileinfo&) const = default;
};

fileinfo infoof(const std::string& path)
{
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return {S_ISREG(info.st_mode) ? readfile(path) : "", info.st_uid, info.st_gid, info.st_mode & 07777u};
}

// A file holding "old\n", a directory (a path ending in '/') or a link to
// target, with this owner (as root) and mode.
std::string make(const std::string& path, uid_t owner, unsigned mode, const char* target = nullptr)
{
    if (target != nullptr) {
        fs::create_symlink(target, path);
    } else if (path.back() == '/') {
        fs::create_directory(path);
    } else {
        writefile(path, "old\n");
    }
    if (asroot) {
        EXPECT_EQ(::lchown(path.c_str(), owner, owner), 0) << path;
    }
    if (target == nullptr) {
        ::chmod(path.c_str(), mode);
    }
    return path;
}

// What a file carries besides its text, all of which a write in place
// keeps: owner, group, mode, names, inode flags (chattr's) and extended
// attributes, ACLs among them.
struct filestate {
    fileinfo info;  // text, owner, group, mode
    nlink_t links;
    int flags;
    std::map<std::string, std::string> attributes;
    bool operator==(const filestate&) const = default;
};

std::ostream& operator<<(std::ostream& out, const filestate& state)
{
    std::string text = state.info.text;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', end + 2)) {
        text.replace(end, 1, "\\n");
    }
    out << '"' << text << "\" owner " << state.info.owner << " group " << state.info.group << " mode " << std::oct
        << state.info.mode << std::dec << " links " << state.links << " flags " << state.flags << " attributes";
    for (const auto& [name, value] : state.attributes) {
        out << ' ' << name << " (" << value.size() << " bytes)";
    }
    return out;
}

filestate stateof(const std::string& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    filestate state{infoof(path), info.st_nlink, 0, {}};
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ::ioctl(descriptor, FS_IOC_GETFLAGS, &state.flags);
    ::close(descriptor);
    state.flags &= FS_FL_USER_MODIFIABLE;
    std::string names(65536, '\0');
    names.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::listxattr(path.c_str(), names.data(), names.size()))));
    for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        std::string value(65536, '\0');
        const ssize_t length = ::getxattr(path.c_str(), names.c_str() + at, value.data(), value.size());
        value.resize(static_cast<std::size_t>(std::max<ssize_t>(0, length)));
        state.attributes[names.c_str() + at] = value;
    }
    return state;
}

// A POSIX ACL as the kernel keeps it in an extended attribute: a version,
// then (tag, permissions, id) in the order of the tags.
enum acltag : std::uint16_t { userobj = 1, nameduser = 2, groupobj = 4, mask = 0x10, other = 0x20 };
constexpr std::uint32_t noid = 0xFFFFFFFF;  // of an entry that names no one
std::string acl(std::initializer_list<std::tuple<acltag, std::uint16_t, std::uint32_t>> entries)
{
    std::string bytes;
    const auto put = [&](std::uint32_t value, int size) {
        for (int byte = 0; byte < size; ++byte) {
            bytes += static_cast<char>(value >> (8 * byte));
        }
    };
    put(2, 4);
    for (const auto& [tag, permissions, id] : entries) {
        put(tag, 2), put(permissions, 2), put(id, 4);
    }
    return bytes;
}

bool setattribute(const std::string& path, const char* name, const std::string& value)
{
    return ::setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

class filepermissions : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        ::chmod(scratch.str().c_str(), 0755);
        // A copy nobody may run: the build may sit where only root can
        // reach it (a clone in /root).
        if (asroot) {
            fs::copy_file(GetParam(), make(path("program/"), 0, 0755) + "program");
            program = path("program/program");
            ::chmod(program.c_str(), 0755);
        }
    }
    // The program run as the unprivileged user (as root: nobody), or as root.
    testsupport::runresult run(const std::string& file, bool unprivileged = true, const std::string& in = "",
                               const std::string& count = "5")
    {
        return testsupport::runprogram(program, {count, file}, runner(unprivileged, in));
    }
    // What the shell's `>` leaves, run as the same user.
    void shellwrite(const std::string& file, bool unprivileged)
    {
        auto options = runner(unprivileged);
        options.launcher.clear();
        ASSERT_EQ(testsupport::runprogram("/bin/sh", {"-c", "echo 031415 > \"$1\"", "sh", file}, options).status, 0);
    }
    static testsupport::runoptions runner(bool unprivileged, const std::string& in = "")
    {
        testsupport::runoptions options;
        options.launcher = programpaths::emulator;
        options.workingdirectory = in;
        if (unprivileged && asroot) {
            options.userid = nobody;
            options.groupid = nobody;
        }
        return options;
    }
    std::string path(const std::string& name) const { return scratch.path(name); }
    const uid_t user = asroot ? nobody : ::geteuid();  // who runs the program
    testsupport::scratchdirectory scratch;
    std::string program = GetParam();
};

TEST_P(filepermissions, RefusedWhereAPlainWriteIsRefused)
{
    const std::string own = make(path("own/"), user, 0755);
    struct refusal {
        const char* what;
        std::string name;     // FILE as given
        std::string checked;  // what must stay exactly as it was
    };
    std::vector<refusal> refusals = {
        {"write-protected file", make(own + "ro.txt", user, 0444), own + "ro.txt"},
        {"link to a write-protected file", make(own + "link.txt", user, 0, "ro.txt"), own + "ro.txt"},
        {"dangling link into a directory that cannot be written",
         make(own + "tonowhere.txt", user, 0, "../closed/new.txt"), make(path("closed/"), user, 0555)},
    };
    if (asroot) {
        const std::string open = make(path("open/"), 0, 0777), sticky = make(path("sticky/"), 0, 01777);
        refusals.push_back({"root's file in a directory anyone may write", make(open + "root.txt", 0, 0644),
                            open + "root.txt"});
        refusals.push_back({"root's file in a sticky directory", make(sticky + "root.txt", 0, 0644),
                            sticky + "root.txt"});
    }
    for (const refusal& refused : refusals) {
        const fileinfo before = infoof(refused.checked);
        const auto entries = std::distance(fs::directory_iterator(fs::path(refused.name).parent_path()), {});
        const auto result = run(refused.name);
        EXPECT_EQ(result.status, 2) << refused.what;
        EXPECT_EQ(result.err, "Cannot open " + refused.name + "\n") << refused.what;
        EXPECT_TRUE(infoof(refused.checked) == before) << refused.what << ": changed";
        EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(refused.name).parent_path()), {}), entries)
            << refused.what << ": a file was left beside FILE";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(path("closed")), {}), 0);

    // The empty name, as root too, makes and touches nothing where it runs.
    for (const bool unprivileged : {true, false}) {
        const auto result = run("", unprivileged, own);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "Cannot open \n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(own), {}), 3) << "the file and two links, nothing else";
}

TEST_P(filepermissions, AllowedWritesReplaceKeepingOwnerGroupAndMode)
{
    // A dangling link leads to the file the kernel makes for it.
    const std::string own = make(path("own/"), user, 0755);
    make(own + "link.txt", user, 0, "new.txt");
    ASSERT_EQ(run(own + "link.txt").status, 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const fileinfo made = infoof(own + "new.txt");
    EXPECT_EQ(made.text, "031415\n");
    EXPECT_EQ(made.owner, user);
    EXPECT_EQ(made.mode, 0666u & ~mask);
    EXPECT_TRUE(fs::is_symlink(own + "link.txt"));

    if (!asroot) {
        GTEST_SKIP() << "only root can make a file of another user to replace";
    }
    const std::string others = make(own + "others.txt", nobody, 0640);
    ASSERT_EQ(run(others, false).status, 0);
    EXPECT_TRUE(infoof(others) == (fileinfo{"031415\n", nobody, nobody, 0640}));
}

TEST_P(filepermissions, LinkPlantedInAStickyDirectoryIsRefusedAsTheKernelRefusesIt)
{
    std::ifstream setting("/proc/sys/fs/protected_symlinks");
    int protectedsymlinks = 0;
    setting >> protectedsymlinks;
    if (!asroot || protectedsymlinks != 1) {
        GTEST_SKIP() << "needs root to plant another user's link, and fs.protected_symlinks = 1 (it reads "
                     << protectedsymlinks << ")";
    }
    // nobody's link in a sticky directory of root's, to a file only root
    // may reach: root writing through it is refused.
    const std::string secret = make(make(path("private/"), 0, 0700) + "secret.txt", 0, 0600);
    const std::string link = make(make(path("sticky/"), 0, 01777) + "out.txt", nobody, 0, secret.c_str());
    const auto result = run(link, false);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "Cannot open " + link + "\n");
    EXPECT_EQ(readfile(secret), "old\n");
    EXPECT_EQ(fs::read_symlink(link), secret);
}

TEST_P(filepermissions, FileKeepsAllButItsTextAsTheShellsWriteKeepsIt)
{
    // Each case made twice, once for the shell's `>` and once for the
    // program, by the user who runs them (or, where it says so, another):
    // both must leave the same file, and those only a write in place can
    // write must keep their inode.
    enum kept { anyinode, sameinode, sameinodeunprivileged };
    struct filecase {
        const char* what;
        kept inode;
        // Makes the file (path) in its directory (a path ending in '/',
        // made): false where this system cannot.
        std::function<bool(const std::string& directory, const std::string& path, uid_t user)> make;
    };
    const auto old = [](const std::string& path, uid_t owner, unsigned mode) { return !make(path, owner, mode).empty(); };
    const std::vector<filecase> cases = {
        {"a plain file", anyinode, [&](auto&, auto& path, uid_t user) { return old(path, user, 0640); }},
        {"mode 0600 and an ACL letting one more user read (mask r--)", anyinode,
         [&](auto&, auto& path, uid_t user) {
             return old(path, user, 0600) &&
                    setattribute(path, "system.posix_acl_access",
                                 acl({{userobj, 6, noid}, {nameduser, 4, 4242}, {groupobj, 0, noid}, {mask, 4, noid},
                                      {other, 0, noid}}));
         }},
        {"no ACL, in a directory whose default ACL new files take", anyinode,
         [&](auto& directory, auto& path, uid_t user) {
             return old(path, user, 0644) &&
                    setattribute(directory, "system.posix_acl_default",
                                 acl({{userobj, 7, noid}, {nameduser, 7, 4242}, {groupobj, 5, noid}, {mask, 7, noid},
                                      {other, 5, noid}}));
         }},
        {"an extended attribute", anyinode,
         [&](auto&, auto& path, uid_t user) { return old(path, user, 0644) && setattribute(path, "user.tag", "keep"); }},
        {"an inode flag (nodump)", sameinode,
         [&](auto&, auto& path, uid_t user) {
             int flags = FS_NODUMP_FL;
             const int descriptor = ::open(make(path, user, 0644).c_str(), O_RDONLY | O_CLOEXEC);
             const bool set = ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
             ::close(descriptor);
             return set;
         }},
        {"a second name", sameinode,
         [&](auto& directory, auto& path, uid_t user) {
             return old(path, user, 0644) && ::link(path.c_str(), (directory + "second.txt").c_str()) == 0;
         }},
        {"set-user-ID and set-group-ID, executable", anyinode,
         [&](auto&, auto& path, uid_t user) { return old(path, user, 06755); }},
        {"set-group-ID, not executable", anyinode, [&](auto&, auto& path, uid_t user) { return old(path, user, 02664); }},
        {"another user's file, which anyone may write, in a directory anyone may write", sameinodeunprivileged,
         [&](auto& directory, auto& path, uid_t user) {
             ::chmod(directory.c_str(), 0777);
             return asroot && old(path, user == nobody ? 0 : nobody, 0666);
         }},
    };
    std::vector<bool> runners = {true};
    if (asroot) {
        runners.push_back(false);
    }
    for (const bool unprivileged : runners) {
        const uid_t runas = unprivileged ? user : ::geteuid();
        for (std::size_t number = 0; number < cases.size(); ++number) {
            const filecase& tried = cases[number];
            const std::string tag = std::to_string(number) + (unprivileged ? "u" : "r");
            const std::string shells = make(path(tag + "shell/"), runas, 0755), programs = make(path(tag + "program/"), runas, 0755);
            if (!tried.make(shells, shells + "out.txt", runas) || !tried.make(programs, programs + "out.txt", runas)) {
                std::cout << "skipped, cannot be made here (needs root, or a file system that keeps it): " << tried.what << '\n';
                continue;
            }
            struct stat before {};
            ::stat((programs + "out.txt").c_str(), &before);
            shellwrite(shells + "out.txt", unprivileged);
            const auto result = run(programs + "out.txt", unprivileged);
            const std::string who = unprivileged ? " (as the unprivileged user)" : " (as root)";
            EXPECT_EQ(result.status, 0) << tried.what << who << ": " << result.err;
            EXPECT_EQ(stateof(programs + "out.txt"), stateof(shells + "out.txt")) << tried.what << who;
            struct stat after {};
            ::stat((programs + "out.txt").c_str(), &after);
            if (tried.inode == sameinode || (tried.inode == sameinodeunprivileged && unprivileged)) {
                EXPECT_EQ(after.st_ino, before.st_ino) << tried.what << who << ": not written in place";
            }
            EXPECT_EQ(fs::exists(programs + "second.txt") ? readfile(programs + "second.txt") : "031415\n", "031415\n")
                << tried.what << who;
        }
    }
}

TEST_P(filepermissions, MountPointAndFullDiskAreWrittenInPlace)
{
    if (!asroot || ::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "needs root and a private mount namespace: " << std::strerror(errno);
    }
    // A single file bind-mounted over another, as a container's volume is:
    // no rename can replace it.
    const std::string volume = make(path("volume.txt"), 0, 0644);
    const std::string mounted = make(make(path("container/"), 0, 0755) + "pi.txt", 0, 0644);
    ASSERT_EQ(::mount(volume.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
    const auto written = run(mounted, false);
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(readfile(volume), "031415\n");
    ::umount2(mounted.c_str(), MNT_DETACH);

    // A full disk, FILE with a second name: the text's room is asked for
    // before a byte of the old text is written over.
    const std::string disk = make(path("disk/"), 0, 0755);
    ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    const std::string file = make(disk + "out.txt", 0, 0644);
    ASSERT_EQ(::link(file.c_str(), (disk + "second.txt").c_str()), 0);
    std::ofstream filler(disk + "filler");
    for (const std::string block(4096, 'x'); filler.write(block.data(), block.size()) && filler.flush();) {
    }
    const auto full = run(file, false, "", "10000");
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err, "Cannot write " + file + "\n");
    EXPECT_EQ(readfile(file), "old\n");
    ::umount2(disk.c_str(), MNT_DETACH);
}

INSTANTIATE_TEST_SUITE_P(printing, filepermissions,
                         ::testing::Values(programpaths::pigenerator, programpaths::pibuffer),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param == programpaths::pigenerator ? "pi_generator" : "pi_buffer";
                         });

}  // namespace
