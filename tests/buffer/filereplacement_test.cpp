// Every way replacing FILE can fail, each call failed in turn through the
// seam: the status and message each gives, FILE as it was (or whole and
// new), and never a temporary left beside it.
#include <gtest/gtest.h>

#include <errno.h>

#include <string>
#include <utility>
#include <vector>

#include "bufferfrontend.h"
#include "filemetadata.h"
#include "filereplacement.h"
#include "replacementrun.h"

namespace {

int failingallocation = -1;  // the number of the allocation that fails
int allocations = 0;

void* countedallocate(size_t size)
{
    if (allocations++ == failingallocation) {
        errno = ENOMEM;
        return nullptr;
    }
    return malloc(size);
}

std::string cannotwrite()
{
    return "Cannot write " + (testsupport::faultdirectory("pibuffer") / "out.txt").string() + "\n";
}

testsupport::replacementoutcome replace(const struct filesystemcalls& calls)
{
    const struct filesystemcalls real = filesystem;
    filesystem = calls;
    const auto outcome = testsupport::runreplacement("pibuffer", [](const std::string& file) {
        testing::internal::CaptureStderr();
        const int status = writefile(file.c_str(), "031415");
        return std::make_pair(status, testing::internal::GetCapturedStderr());
    });
    filesystem = real;
    return outcome;
}

}  // namespace

TEST(filereplacement, EachFailingCallGivesItsStatusAndLeavesNoTemporary)
{
    const struct filesystemcalls real = filesystem;
    struct filesystemcalls calls = real;
    const auto expect = [&](const char* what, int status, const std::string& err, const char* text,
                            bool inplace = false) {
        testsupport::expectoutcome(replace(calls), what, status, err, text, inplace);
        calls = real;
    };

    calls.fsyncdirectory = testsupport::syncdirectory;
    const auto replaced = replace(calls);
    testsupport::expectoutcome(replaced, "nothing fails", exitsuccess, "", "031415\n");
    EXPECT_TRUE(replaced.filesdirectorysynced) << "the rename was not made durable in FILE's directory";
    calls = real;
    calls.write = [](int d, const void* p, size_t) { return ::write(d, p, 1); };
    expect("writes of one byte at a time", exitsuccess, "", "031415\n");

    calls.maketemporary = [](int, char*) { errno = ENOSPC; return -1; };
    expect("no room for the temporary", exitoutput, cannotwrite(), "old\n");
    calls.maketemporary = [](int, char*) { errno = ENOMEM; return -1; };
    expect("no memory for the temporary", exitoutofmemory, "Out of memory\n", "old\n");
    // A directory where no new file can be made: FILE is written in place.
    calls.maketemporary = [](int, char*) { errno = EACCES; return -1; };
    expect("no temporary allowed", exitsuccess, "", "031415\n");

    calls.write = [](int, const void*, size_t) -> ssize_t { errno = ENOSPC; return -1; };
    expect("a full disk", exitoutput, cannotwrite(), "old\n");
    calls.fsync = [](int) { errno = EIO; return -1; };
    expect("the file's fsync", exitoutput, cannotwrite(), "old\n");
    calls.rename = [](int, const char*, const char*) { errno = EIO; return -1; };
    expect("the rename", exitoutput, cannotwrite(), "old\n");
    testsupport::expectwritesinplace(calls, expect, cannotwrite());
    // The text has reached FILE when the directory is synced.
    calls.fsyncdirectory = [](int) { errno = EINVAL; return -1; };
    expect("the directory's fsync", exitsuccess, "", "031415\n");
}

TEST(filereplacement, EachFailingAllocationIsReportedAsOutOfMemory)
{
    struct filesystemcalls calls = filesystem;
    calls.allocate = countedallocate;
    for (failingallocation = 0;; ++failingallocation) {
        allocations = 0;
        const auto result = replace(calls);
        if (allocations <= failingallocation) {
            break;  // every allocation has failed once
        }
        EXPECT_EQ(result.entries, 1) << "allocation " << failingallocation;
        if (result.status == exitsuccess) {
            // Only syncing the directory, after the rename, may fail quietly.
            EXPECT_EQ(result.file, "031415\n") << "allocation " << failingallocation;
            EXPECT_EQ(result.err, "");
            continue;
        }
        EXPECT_EQ(result.status, exitoutofmemory) << "allocation " << failingallocation;
        EXPECT_EQ(result.err, "Out of memory\n");
        EXPECT_EQ(result.file, "old\n");
    }
    EXPECT_GE(failingallocation, 2);
    failingallocation = -1;
}

TEST(filereplacement, SetIdBitsStayOnlyWhereAWriteByTheRunnerKeepsThem)
{
    testsupport::expectsetidbitsasawriteleavesthem(modeafterwrite);
}
