// Every way replacing FILE can fail, each call failed in turn through the
// seam and each allocation in turn (allocationmeter.h): the status and
// message each gives, FILE as it was (or whole and new), and never a
// temporary left beside it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "allocationmeter.h"
#include "filemetadata.h"
#include "filereplacement.h"
#include "generatorfrontend.h"
#include "replacementrun.h"

namespace {

testsupport::replacementoutcome replace(const generator::filesystemcalls& calls, long failing = -1)
{
    const generator::filesystemcalls real = generator::filesystem;
    generator::filesystem = calls;
    const auto outcome = testsupport::runreplacement("pigenerator", [failing](const std::string& file) {
        const std::string text = "031415";
        std::ostringstream err;
        allocationmeter::counted = 0;
        allocationmeter::failing = failing;
        const int status =
            generator::runguarded(err, [&] { return generator::writefile(file.c_str(), err, text); });
        allocationmeter::failing = -1;
        return std::make_pair(status, err.str());
    });
    generator::filesystem = real;
    return outcome;
}

}  // namespace

TEST(filereplacement, EachFailingCallGivesItsStatusAndLeavesNoTemporary)
{
    using generator::exitoutput;
    using generator::exitoutofmemory;
    using generator::exitsuccess;
    const generator::filesystemcalls real = generator::filesystem;
    generator::filesystemcalls calls = real;
    const std::string cannotwrite =
        "Cannot write " + (testsupport::faultdirectory("pigenerator") / "out.txt").string() + "\n";
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
    calls.write = [](int d, const void* p, std::size_t) { return ::write(d, p, 1); };
    expect("writes of one byte at a time", exitsuccess, "", "031415\n");

    calls.maketemporary = [](int, char*) { errno = ENOSPC; return -1; };
    expect("no room for the temporary", exitoutput, cannotwrite, "old\n");
    calls.maketemporary = [](int, char*) { errno = ENOMEM; return -1; };
    expect("no memory for the temporary", exitoutofmemory, "Out of memory\n", "old\n");
    // A directory where no new file can be made: FILE is written in place.
    calls.maketemporary = [](int, char*) { errno = EACCES; return -1; };
    expect("no temporary allowed", exitsuccess, "", "031415\n");

    calls.write = [](int, const void*, std::size_t) -> ssize_t { errno = ENOSPC; return -1; };
    expect("a full disk", exitoutput, cannotwrite, "old\n");
    calls.fsync = [](int) { errno = EIO; return -1; };
    expect("the file's fsync", exitoutput, cannotwrite, "old\n");
    calls.rename = [](int, const char*, const char*) { errno = EIO; return -1; };
    expect("the rename", exitoutput, cannotwrite, "old\n");
    testsupport::expectwritesinplace(calls, expect, cannotwrite);
    // The text has reached FILE when the directory is synced.
    calls.fsyncdirectory = [](int) { errno = EINVAL; return -1; };
    expect("the directory's fsync", exitsuccess, "", "031415\n");
}

TEST(filereplacement, EachFailingAllocationIsReportedAsOutOfMemory)
{
    long failing = 0;
    for (;; ++failing) {
        const auto result = replace(generator::filesystem, failing);
        if (allocationmeter::counted <= failing) {
            break;  // every allocation has failed once
        }
        EXPECT_EQ(result.entries, 1) << "allocation " << failing;
        if (result.status == generator::exitsuccess) {
            // Only syncing the directory, after the rename, may fail quietly.
            EXPECT_EQ(result.file, "031415\n") << "allocation " << failing;
            continue;
        }
        EXPECT_EQ(result.status, generator::exitoutofmemory) << "allocation " << failing;
        EXPECT_EQ(result.err, "Out of memory\n");
        EXPECT_EQ(result.file, "old\n");
    }
    EXPECT_GE(failing, 2);
}

TEST(filereplacement, SetIdBitsStayOnlyWhereAWriteByTheRunnerKeepsThem)
{
    testsupport::expectsetidbitsasawriteleavesthem(generator::modeafterwrite);
}
