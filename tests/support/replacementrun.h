#pragma once

#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>  // distance
#include <string>
#include <utility>
#include <vector>

#include "inchild.h"
#include "runprogram.h"

namespace testsupport {

// What writing "031415" over a FILE that held "old\n" and an extended
// attribute left behind.
struct replacementoutcome {
    int status;
    std::string err;
    std::string file;
    long entries;  // in FILE's directory, FILE included
    // FILE's extended attribute user.tag, "keep" before (empty where the
    // file system has none).
    std::string attribute;
    bool inodekept;  // written in place
    // The directory fsynced through syncdirectory() below was FILE's own.
    bool filesdirectorysynced;
};

// Which directory the last syncdirectory() call was given.
inline struct stat lastsynceddirectory {};

// A stand-in for the fsync of FILE's directory after the rename, which
// notes the directory it was given.
inline int syncdirectory(int descriptor)
{
    return ::fstat(descriptor, &lastsynceddirectory);
}

// A fresh directory for one kind of program's fault tests.
inline std::filesystem::path faultdirectory(const std::string& tag)
{
    return std::filesystem::temp_directory_path() / (tag + "faults" + std::to_string(::getpid()));
}

// write(FILE) returns the status and what went to standard error.
template <typename writer>
replacementoutcome runreplacement(const std::string& tag, writer write)
{
    namespace fs = std::filesystem;
    const fs::path directory = faultdirectory(tag);
    fs::remove_all(directory);
    fs::create_directories(directory);
    const std::string file = (directory / "out.txt").string();
    testsupport::writefile(file, "old\n");
    const bool attributes = ::setxattr(file.c_str(), "user.tag", "keep", 4, 0) == 0;
    struct stat before {};
    ::stat(file.c_str(), &before);
    lastsynceddirectory = {};
    const std::pair<int, std::string> written = write(file);
    struct stat filesdirectory {};
    ::stat(directory.c_str(), &filesdirectory);
    struct stat after {};
    ::stat(file.c_str(), &after);
    std::string attribute = "keep";  // as if kept, where the file system keeps none
    if (attributes) {
        char value[16];
        const ssize_t length = ::getxattr(file.c_str(), "user.tag", value, sizeof value);
        attribute.assign(value, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    }
    replacementoutcome outcome{written.first, written.second, testsupport::readfile(file),
                               std::distance(fs::directory_iterator(directory), fs::directory_iterator()),
                               attribute, after.st_ino == before.st_ino,
                               lastsynceddirectory.st_ino == filesdirectory.st_ino &&
                                   lastsynceddirectory.st_dev == filesdirectory.st_dev};
    fs::remove_all(directory);
    return outcome;
}

inline void expectoutcome(const replacementoutcome& outcome, const std::string& what, int status,
                          const std::string& err, const std::string& text, bool inplace = false)
{
    if (inplace) {
        EXPECT_TRUE(outcome.inodekept) << what << ": not written in place";
    }
    EXPECT_EQ(outcome.status, status) << what;
    EXPECT_EQ(outcome.err, err) << what;
    EXPECT_EQ(outcome.file, text) << what;
    EXPECT_EQ(outcome.entries, 1) << what << ": a temporary was left behind";
    EXPECT_EQ(outcome.attribute, "keep") << what << ": FILE lost its extended attribute";
}

// modeafterwrite (either subsystem's): root may keep set-ID bits; anyone
// else's write clears set-user-ID, and set-group-ID where the group may
// execute.
inline void expectsetidbitsasawriteleavesthem(mode_t (*modeafterwrite)(mode_t))
{
    const auto modes = [modeafterwrite] {
        return std::vector<mode_t>{modeafterwrite(06755), modeafterwrite(02644), modeafterwrite(0640)};
    };
    const std::vector<mode_t> unprivileged = {0755, 02644, 0640};
    if (::geteuid() != 0) {
        EXPECT_EQ(modes(), unprivileged);
        return;
    }
    EXPECT_EQ(modes(), (std::vector<mode_t>{06755, 02644, 0640}));
    const auto child = inchild([&] {
        if (::setuid(65534) != 0 || modes() != unprivileged) {
            ::_exit(1);
        }
    });
    EXPECT_EQ(child.status, 0) << "as nobody";
}

// The errno the failing stand-ins below give.
inline int failingerrno = 0;

// Where the temporary cannot be FILE in all but its text, or cannot take
// its place, FILE is written in place, its room asked for first: each
// through calls (either subsystem's seam), expect(what, status, err,
// text, inplace) running it and restoring the seam after.
template <typename seam, typename expecter>
void expectwritesinplace(seam& calls, expecter expect, const std::string& cannotwrite)
{
    constexpr int written = 0, notwritten = 2;  // the programs' statuses
    for (const int refusal : {EPERM, EACCES, EBUSY, EXDEV}) {
        failingerrno = refusal;
        calls.rename = [](int, const char*, const char*) { errno = failingerrno; return -1; };
        expect(("a rename refused, errno " + std::to_string(refusal)).c_str(), written, "", "031415\n", true);
    }
    calls.setattribute = [](int, const char*, const void*, std::size_t, int) { errno = EPERM; return -1; };
    expect("an attribute that cannot be set", written, "", "031415\n", true);
    for (const int refusal : {ENOSPC, EDQUOT, EOPNOTSUPP}) {
        const bool reserves = refusal != EOPNOTSUPP;  // a file system that reserves nothing ahead
        failingerrno = refusal;
        calls.maketemporary = [](int, char*) { errno = EACCES; return -1; };
        calls.reserve = [](int, off_t) { errno = failingerrno; return -1; };
        expect(("in place, no room reserved, errno " + std::to_string(refusal)).c_str(), reserves ? notwritten : written,
               reserves ? cannotwrite : "", reserves ? "old\n" : "031415\n", true);
    }
}

}  // namespace testsupport
