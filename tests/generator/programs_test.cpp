#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runprogram.h"

using testsupport::exists;
using testsupport::readfile;
using testsupport::runoptions;
using testsupport::runprogram;
using testsupport::scratchdirectory;
using testsupport::writefile;

namespace {

const std::string printer = PI_GENERATOR;
const std::string discarder = PI_GENERATOR_DISCARD;
const std::string usage = "usage: pi #DIGITS [FILE]\n";
const std::string outofrange = "#DIGITS must be between 0 and 16953818\n";

class generatorprograms : public ::testing::Test {
protected:
    scratchdirectory scratch;
};

}  // namespace

TEST_F(generatorprograms, MissingCountPrintsUsageWithLineEnd)
{
    for (const std::string& program : {printer, discarder}) {
        const auto result = runprogram(program, {});
        EXPECT_EQ(result.status, 1) << program;
        EXPECT_EQ(result.err, usage) << program;
        EXPECT_EQ(result.out, "") << program;
    }
}

TEST_F(generatorprograms, PrintsTextAndLineEnd)
{
    const auto ten = runprogram(printer, {"10"});
    EXPECT_EQ(ten.status, 0);
    EXPECT_EQ(ten.out, "03141592653\n");
    EXPECT_EQ(ten.err, "");

    EXPECT_EQ(runprogram(printer, {"0"}).out, "0\n");
    EXPECT_EQ(runprogram(printer, {"abc"}).out, "0\n");
    EXPECT_EQ(runprogram(printer, {"6"}).out, "0314159\n");
}

TEST_F(generatorprograms, WritesFileReplacingItsContents)
{
    const std::string file = scratch.path("out.txt");
    writefile(file, "an older and much longer content than the digits\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"5", file}, std::vector<std::string>{"5", file, "extra"}}) {
        const auto result = runprogram(printer, args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(readfile(file), "031415\n");
    }
}

TEST_F(generatorprograms, DiscardWritesNothingAndLeavesFileAlone)
{
    const std::string absent = scratch.path("absent.txt");
    const auto result = runprogram(discarder, {"1000", absent});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(exists(absent));

    const std::string present = scratch.path("present.txt");
    writefile(present, "kept");
    EXPECT_EQ(runprogram(discarder, {"20", present}).status, 0);
    EXPECT_EQ(readfile(present), "kept");
}

TEST_F(generatorprograms, FileThatCannotBeOpenedIsReported)
{
    const std::string file = scratch.path("no/such/directory/out.txt");
    const auto result = runprogram(printer, {"5", file});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "Cannot open " + file + "\n");
    EXPECT_EQ(result.out, "");
}

TEST_F(generatorprograms, FailedWritesAreReported)
{
    const auto full = runprogram(printer, {"100", "/dev/full"});
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err, "Cannot write /dev/full\n");

    runoptions tofull;
    tofull.stdoutpath = "/dev/full";
    const auto standard = runprogram(printer, {"100"}, tofull);
    EXPECT_EQ(standard.status, 2);
    EXPECT_EQ(standard.err, "Cannot write standard output\n");
}

TEST_F(generatorprograms, CountOutOfRangeIsRejectedBeforeAnyOutput)
{
    const std::string file = scratch.path("out.txt");
    const std::string kept = scratch.path("kept.txt");
    writefile(kept, "kept");
    for (const std::string& program : {printer, discarder}) {
        for (const char* count : {"-1", "16953819", "4294967297", "-99999999999999999999"}) {
            const auto tostdout = runprogram(program, {count});
            EXPECT_EQ(tostdout.status, 1) << program << ' ' << count;
            EXPECT_EQ(tostdout.err, outofrange) << program << ' ' << count;
            EXPECT_EQ(tostdout.out, "");

            EXPECT_EQ(runprogram(program, {count, file}).status, 1);
            EXPECT_FALSE(exists(file));
            EXPECT_EQ(runprogram(program, {count, kept}).status, 1);
            EXPECT_EQ(readfile(kept), "kept");
        }
    }
}

TEST_F(generatorprograms, OutOfMemoryIsReportedWithoutOutput)
{
    if (testsupport::addresssanitized) {
        GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the cap";
    }
    // The largest count needs over 200 MB of cells; cap the process at 64 MB.
    runoptions capped;
    capped.addressspacelimit = 64ull << 20;
    const std::string file = scratch.path("out.txt");
    for (const std::string& program : {printer, discarder}) {
        const auto result = runprogram(program, {"16953818", file}, capped);
        EXPECT_EQ(result.status, 3) << program;
        EXPECT_EQ(result.err, "Out of memory\n") << program;
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(exists(file));
        EXPECT_EQ(runprogram(program, {"16953818"}, capped).out, "");
    }
}
