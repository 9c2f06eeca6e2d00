#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>  // distance
#include <string>
#include <utility>

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

}  // namespace testsupport
