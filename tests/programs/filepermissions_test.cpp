// The printing programs write FILE only where a plain write could: the
// kernel's permissions, owners and link protections hold for them as for
// the shell's `>`. Run as an unprivileged user: root, which CI runs as,
// may write anything, so as root the programs run as nobody.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
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
        ::lchown(path.c_str(), owner, owner);
    }
    if (target == nullptr) {
        ::chmod(path.c_str(), mode);
    }
    return path;
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
    testsupport::runresult run(const std::string& file, bool unprivileged = true, const std::string& in = "")
    {
        testsupport::runoptions options;
        options.launcher = programpaths::emulator;
        options.workingdirectory = in;
        if (unprivileged && asroot) {
            options.userid = nobody;
            options.groupid = nobody;
        }
        return testsupport::runprogram(program, {"5", file}, options);
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

INSTANTIATE_TEST_SUITE_P(printing, filepermissions,
                         ::testing::Values(programpaths::pigenerator, programpaths::pibuffer),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param == programpaths::pigenerator ? "pi_generator" : "pi_buffer";
                         });

}  // namespace
