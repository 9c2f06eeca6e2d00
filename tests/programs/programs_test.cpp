// The four programs as a user runs them: bytes on standard output and
// standard error, files, exit statuses.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "longrun.h"
#include "programpaths.h"
#include "runprogram.h"

using testsupport::exists;
using testsupport::readfile;
using testsupport::runoptions;
using testsupport::runprogram;
using testsupport::scratchdirectory;
using testsupport::writefile;

namespace {

struct program {
    const char* name;
    std::string path;
    bool prints;        // false for the discarding programs
    std::string usage;  // the generator programs end it with a line end
    std::string six;    // the text for N = 6, which differs at its end
};

void PrintTo(const program& p, std::ostream* os) { *os << p.name; }

const program programs[] = {
    {"pi_generator", programpaths::pigenerator, true, "usage: pi #DIGITS [FILE]\n", "0314159"},
    {"pi_generator_discard", programpaths::pigeneratordiscard, false, "usage: pi #DIGITS [FILE]\n", ""},
    {"pi_buffer", programpaths::pibuffer, true, "usage: pi #DIGITS [FILE]", "031415"},
    {"pi_buffer_discard", programpaths::pibufferdiscard, false, "usage: pi #DIGITS [FILE]", ""},
};

const std::string outofrange = "#DIGITS must be between 0 and 16953818\n";

class everyprogram : public ::testing::TestWithParam<program> {
protected:
    testsupport::runresult run(const std::vector<std::string>& args, runoptions options = {})
    {
        options.launcher = programpaths::emulator;
        return runprogram(GetParam().path, args, options);
    }
    scratchdirectory scratch;
};

class printingprogram : public everyprogram {};
class discardingprogram : public everyprogram {};

std::string nameof(const ::testing::TestParamInfo<program>& info) { return info.param.name; }

// What a directory holds, by name: a temporary left behind shows here.
std::set<std::string> entries(const std::string& directory)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

unsigned permissionbits(const std::string& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// A run on a terminal: what it wrote besides its progress line, and each
// state of that line. The line is drawn after a '\r' and erased with
// spaces and a '\r'; the programs write no other '\r'.
struct terminaloutput {
    std::string rest;
    std::vector<std::string> progress;
    bool erased = true;  // nothing of the line shows any more (or it never did)
};

terminaloutput splitprogress(const std::string& bytes)
{
    terminaloutput result;
    const std::size_t last = bytes.rfind('\r');
    if (last == std::string::npos) {
        result.rest = bytes;
        return result;
    }
    result.rest = bytes.substr(last + 1);
    // The terminal's line before the last '\r': each '\r' takes the cursor
    // back to its start, and each character then covers the one there.
    std::string screen = bytes.substr(0, bytes.find('\r'));
    for (std::size_t from = bytes.find('\r'); from < last;) {
        const std::size_t to = bytes.find('\r', from + 1);
        std::string drawn = bytes.substr(from + 1, to - from - 1);
        screen.replace(0, drawn.size(), drawn);
        drawn.erase(drawn.find_last_not_of(' ') + 1);  // spaces cover a longer line
        if (!drawn.empty()) {
            result.progress.push_back(drawn);
        }
        from = to;
    }
    result.erased = screen.find_first_not_of(' ') == std::string::npos;
    return result;
}

// Symbolic links to scratch's out.txt, as the names they are reached by: a
// relative target beside it, a relative one from another directory and an
// absolute one.
std::vector<std::string> linkstofile(const scratchdirectory& scratch)
{
    namespace fs = std::filesystem;
    fs::create_directory(scratch.path("sub"));
    fs::create_symlink("out.txt", scratch.path("beside.txt"));
    fs::create_symlink("../out.txt", scratch.path("sub/up.txt"));
    fs::create_symlink(scratch.path("out.txt"), scratch.path("absolute.txt"));
    return {scratch.path("beside.txt"), scratch.path("sub/up.txt"), scratch.path("absolute.txt")};
}

// A run that could not even start: the loader found too little memory (it
// exits with 127, a status the programs never use).
bool failedtostart(const testsupport::runresult& result) { return result.status == 127; }

}  // namespace

TEST_P(everyprogram, MissingCountPrintsUsage)
{
    const auto result = run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, GetParam().usage);
    EXPECT_EQ(result.out, "");
}

TEST_P(everyprogram, CountOutOfRangeIsRejectedBeforeAnyOutput)
{
    const std::string file = scratch.path("out.txt");
    const std::string kept = scratch.path("kept.txt");
    writefile(kept, "kept");
    for (const char* count : {"-1", "16953819", "4294967297", "-99999999999999999999"}) {
        const auto tostdout = run({count});
        EXPECT_EQ(tostdout.status, 1) << count;
        EXPECT_EQ(tostdout.err, outofrange) << count;
        EXPECT_EQ(tostdout.out, "") << count;

        EXPECT_EQ(run({count, file}).status, 1);
        EXPECT_FALSE(exists(file));
        EXPECT_EQ(run({count, kept}).status, 1);
        EXPECT_EQ(readfile(kept), "kept");
    }
}

TEST_P(everyprogram, OutOfMemoryIsReportedWithoutOutput)
{
    if (testsupport::addresssanitized) {
        GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the cap";
    }
    if (!programpaths::emulator.empty()) {
        GTEST_SKIP() << "the cap would bind the emulator, which reserves the guest's address space";
    }
    // The largest count needs over 200 MB of cells; cap the process at 64 MB.
    runoptions capped;
    capped.addressspacelimit = 64ull << 20;
    const std::string file = scratch.path("out.txt");
    const auto tofile = run({"16953818", file}, capped);
    EXPECT_EQ(tofile.status, 3);
    EXPECT_EQ(tofile.err, "Out of memory\n");
    EXPECT_EQ(tofile.out, "");
    EXPECT_FALSE(exists(file));

    const auto tostdout = run({"16953818"}, capped);
    EXPECT_EQ(tostdout.status, 3);
    EXPECT_EQ(tostdout.out, "");
}

TEST_P(everyprogram, RunningOutOfMemoryAnywhereIsReported)
{
    if (testsupport::addresssanitized || !programpaths::emulator.empty()) {
        GTEST_SKIP() << "an address-space cap cannot bind the program alone here";
    }
    // Every cap from the first under which the program loads (a program
    // the kernel cannot map dies of SIGSEGV in exec, so it shows its usage
    // first) up to the first that lets both runs through: whatever
    // allocation fails, the run either succeeds or says so, with nothing on
    // standard output and FILE as it was.
    const std::string file = scratch.path("out.txt");
    const std::string text = run({"1000"}).out;
    unsigned long long loads = 1ull << 20;
    for (runoptions capped; capped.addressspacelimit = loads, run({}, capped).status != 1; loads += 16ull << 10) {
        ASSERT_LE(loads, 64ull << 20) << "no cap lets the program show its usage";
    }
    bool succeeded = false;
    for (unsigned long long cap = loads; cap <= 64ull << 20 && !succeeded; cap += 16ull << 10) {
        writefile(file, "old\n");
        runoptions capped;
        capped.addressspacelimit = cap;
        const auto tofile = run({"1000", file}, capped);
        const auto tostdout = run({"1000"}, capped);
        for (const auto& result : {tofile, tostdout}) {
            if (failedtostart(result)) {
                continue;
            }
            if (result.status == 3) {
                ASSERT_EQ(result.err, "Out of memory\n") << cap;
                ASSERT_EQ(result.out, "") << cap;
            } else {
                ASSERT_EQ(result.status, 0) << cap << ": " << result.err;
                ASSERT_EQ(result.err, "") << cap;
            }
        }
        const bool replaced = tofile.status == 0 && GetParam().prints;
        ASSERT_EQ(readfile(file), replaced ? text : "old\n") << cap;
        ASSERT_EQ(entries(scratch.str()), std::set<std::string>{"out.txt"}) << cap;
        succeeded = tofile.status == 0 && tostdout.status == 0;
    }
    EXPECT_TRUE(succeeded);
}

TEST_P(everyprogram, OnATerminalOnlyProgressIsAdded)
{
    // Whatever progress a run draws on a terminal is gone before the text.
    const auto plain = run({"2000"});
    runoptions options;
    options.launcher = programpaths::emulator;
    const auto terminal = testsupport::runonterminal(GetParam().path, {"2000"}, options);
    if (!terminal) {
        GTEST_SKIP() << "no pseudo-terminal can be made here";
    }
    EXPECT_EQ(terminal->status, 0);
    const terminaloutput split = splitprogress(terminal->out);
    EXPECT_EQ(split.rest, plain.out);
    EXPECT_TRUE(split.erased);
}

// The programs redraw their progress line every quarter second.
constexpr double redrawinterval = 0.25;

// A run on a terminal that lasted this long had time to draw its line and
// redraw it, with room for starting the process and for a batch of passes
// in between: only such a run can show that the line is drawn.
constexpr double decisiveseconds = programpaths::progressdelay + 2 * redrawinterval;

// How long the terminal tests' runs should last: long enough to be
// decisive, with room for a run that goes faster than the ones its count
// was measured by (seen here: 0.7 times as long on a shared machine).
constexpr double longrunseconds = 4 * (programpaths::progressdelay + redrawinterval);

// Each kind of program, with a count measured to keep it busy that long.
struct longrun {
    const char* name;
    std::string printing;
    std::string discarding;
};

void PrintTo(const longrun& run, std::ostream* os) { *os << run.name; }

class progress : public ::testing::TestWithParam<longrun> {
protected:
    void SetUp() override
    {
        if (!programpaths::emulator.empty()) {
            GTEST_SKIP() << "an emulator reports the signal that ends its guest on the terminal";
        }
        count = std::to_string(testsupport::countlasting(GetParam().discarding, longrunseconds));
        RecordProperty("count", count);
    }
    // Runs the printing program on a terminal with the count and `more`
    // arguments, until a run is decisive (decided(run) says). A machine
    // whose load dropped since the count was measured can make a run too
    // short to show anything; then before() sets the scene again and the
    // count doubles, at most three times.
    template <typename decides>
    std::optional<testsupport::runresult> rununtildecided(const std::vector<std::string>& more,
                                                          const runoptions& options, decides decided,
                                                          const std::function<void()>& before = {})
    {
        for (int attempt = 0;; ++attempt) {
            if (before) {
                before();
            }
            std::vector<std::string> args = {count};
            args.insert(args.end(), more.begin(), more.end());
            auto result = testsupport::runonterminal(GetParam().printing, args, options);
            if (!result || decided(*result) || attempt == 3) {
                return result;
            }
            count = std::to_string(std::min<long long>(2 * std::stoll(count), 16953818));
        }
    }
    // The lines drawn climb and read "42% of N digits, about 3 s left" (or
    // "... 12 min left").
    void expectclimbinglines(const terminaloutput& split)
    {
        ASSERT_FALSE(split.progress.empty());
        int previous = -1;
        for (const std::string& drawn : split.progress) {
            int percent = -1;
            int left = -1;
            char unit[4] = "";
            const std::string pattern = "%d%% of " + count + " digits, about %d %3s left";
            ASSERT_EQ(std::sscanf(drawn.c_str(), pattern.c_str(), &percent, &left, unit), 3) << drawn;
            ASSERT_EQ(drawn, std::to_string(percent) + "% of " + count + " digits, about " +
                                 std::to_string(left) + " " + unit + " left");
            EXPECT_TRUE(std::string(unit) == "s" || std::string(unit) == "min") << drawn;
            EXPECT_GE(percent, previous);
            EXPECT_LT(percent, 100);
            previous = percent;
        }
    }
    scratchdirectory scratch;
    std::string count;
};

// A run that went on long enough to show its line.
bool longenough(const testsupport::runresult& run) { return run.seconds >= decisiveseconds; }

// A run sent a signal that ended on its own just as the signal came (or
// before any line showed) shows nothing of the handler; one that went on
// for a redraw after it shows that the handler did not end it.
bool signaldecided(const testsupport::runresult& run)
{
    if (run.status != 0) {
        return true;
    }
    return run.signalledafter < 0 ? longenough(run) : run.seconds - run.signalledafter >= redrawinterval;
}

TEST_P(progress, LongRunShowsProgressWhereStandardErrorIsATerminal)
{
    // Standard output to a file, standard error on the terminal: progress
    // shows, is redrawn as it climbs, and is gone at the end; the text is
    // in the file.
    runoptions tofile;
    tofile.stdoutpath = scratch.path("text");
    const auto shown = rununtildecided({}, tofile, longenough);
    if (!shown) {
        GTEST_SKIP() << "no pseudo-terminal can be made here";
    }
    EXPECT_EQ(shown->status, 0);
    const terminaloutput split = splitprogress(shown->out);
    EXPECT_TRUE(split.erased);
    EXPECT_EQ(split.rest, "");
    expectclimbinglines(split);
    EXPECT_GE(split.progress.size(), 2u) << "drawn but never redrawn in a run of " << count << " digits, "
                                         << shown->seconds << " s";
    const std::string text = readfile(tofile.stdoutpath);
    EXPECT_EQ(text.substr(0, 8), "03141592");
    EXPECT_EQ(text.back(), '\n');

    // Standard error to a file: nothing but the text, wherever it goes.
    runoptions errtofile;
    errtofile.stderrpath = scratch.path("log");
    const auto hidden = testsupport::runonterminal(GetParam().printing, {count}, errtofile);
    EXPECT_EQ(hidden->status, 0);
    EXPECT_EQ(hidden->out, text);
    EXPECT_EQ(readfile(errtofile.stderrpath), "");

    const auto plain = runprogram(GetParam().discarding, {count});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.out, "");
}

TEST_P(progress, ASignalMidRunErasesTheLineAndEndsTheRunAsThatSignal)
{
    const std::string file = scratch.path("out.txt");
    const auto oldfile = [&] { writefile(file, "old\n"); };
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        runoptions interrupted;
        interrupted.signalonprogress = signal;
        const auto result = rununtildecided({file}, interrupted, signaldecided, oldfile);
        if (!result) {
            GTEST_SKIP() << "no pseudo-terminal can be made here";
        }
        EXPECT_EQ(result->signal, signal) << "status " << result->status;
        const terminaloutput split = splitprogress(result->out);
        EXPECT_FALSE(split.progress.empty()) << signal;
        EXPECT_TRUE(split.erased) << signal << ": the line is left on the terminal";
        EXPECT_EQ(split.rest, "") << signal;
        EXPECT_EQ(readfile(file), "old\n") << signal;
        EXPECT_EQ(entries(scratch.str()), std::set<std::string>{"out.txt"}) << signal;
    }

    // Started as nohup starts it, a run ignores the hangup and finishes.
    runoptions nohup;
    nohup.ignoredsignals = {SIGHUP};
    nohup.signalonprogress = SIGHUP;
    const auto result = rununtildecided({file}, nohup, longenough, oldfile);
    EXPECT_EQ(result->status, 0) << "signal " << result->signal;
    const terminaloutput split = splitprogress(result->out);
    EXPECT_FALSE(split.progress.empty());
    EXPECT_TRUE(split.erased);
    EXPECT_EQ(split.rest, "");
    const std::string text = readfile(file);
    EXPECT_EQ(text.substr(0, 8), "03141592");
    EXPECT_EQ(text.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    both, progress,
    ::testing::Values(longrun{"generator", programpaths::pigenerator, programpaths::pigeneratordiscard},
                      longrun{"buffer", programpaths::pibuffer, programpaths::pibufferdiscard}),
    [](const ::testing::TestParamInfo<longrun>& info) { return std::string(info.param.name); });

TEST_P(printingprogram, PrintsTextAndLineEnd)
{
    const auto ten = run({"10"});
    EXPECT_EQ(ten.status, 0);
    EXPECT_EQ(ten.out, "03141592653\n");
    EXPECT_EQ(ten.err, "");

    EXPECT_EQ(run({"0"}).out, "0\n");
    EXPECT_EQ(run({"abc"}).out, "0\n");
    EXPECT_EQ(run({" +6x"}).out, GetParam().six + "\n");
}

TEST_P(printingprogram, WritesFileReplacingItsContents)
{
    const std::string file = scratch.path("out.txt");
    writefile(file, "an older and much longer content than the digits\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"5", file}, std::vector<std::string>{"5", file, "extra"}}) {
        const auto result = run(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(readfile(file), "031415\n");
    }
}

TEST_P(printingprogram, ConcurrentRunsLeaveOneWholeText)
{
    const std::string file = scratch.path("out.txt");
    const std::vector<std::string> counts = {"1000", "1001", "1002", "1003"};
    std::set<std::string> texts;
    for (const std::string& count : counts) {
        texts.insert(run({count}).out);
    }
    // Under an emulator each run costs seconds: fewer rounds.
    const int rounds = programpaths::emulator.empty() ? 20 : 3;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::future<testsupport::runresult>> runs;
        for (const std::string& count : counts) {
            runs.push_back(std::async(std::launch::async, [&, count] { return run({count, file}); }));
        }
        for (auto& result : runs) {
            EXPECT_EQ(result.get().status, 0);
        }
        ASSERT_EQ(texts.count(readfile(file)), 1u) << "round " << round << ": " << readfile(file);
        ASSERT_EQ(entries(scratch.str()), std::set<std::string>{"out.txt"});
    }
}

TEST_P(printingprogram, WriteThatFailsPartWayLeavesTheOldFile)
{
    // A cap on file size makes the write fail after 1024 bytes of 2002,
    // whether FILE is the file itself or a link to it.
    const std::string file = scratch.path("out.txt");
    std::vector<std::string> names = linkstofile(scratch);
    names.insert(names.begin(), file);
    const std::string old = "the old contents, kept byte for byte\n";
    writefile(file, old);
    for (const std::string& name : names) {
        runoptions capped;
        capped.filesizelimit = 1024;
        const auto result = run({"2000", name}, capped);
        EXPECT_EQ(result.status, 2) << name;
        EXPECT_EQ(result.err, "Cannot write " + name + "\n");
        EXPECT_EQ(readfile(file), old) << name;
        EXPECT_EQ(entries(scratch.str()), (std::set<std::string>{"absolute.txt", "beside.txt", "out.txt", "sub"}))
            << name;
        EXPECT_EQ(entries(scratch.path("sub")), std::set<std::string>{"up.txt"}) << name;
    }
}

TEST_P(printingprogram, ReplacingKeepsLinksAndPermissions)
{
    const std::string file = scratch.path("out.txt");
    for (const std::string& link : linkstofile(scratch)) {
        writefile(file, "old");
        ::chmod(file.c_str(), 0640);
        ASSERT_EQ(run({"5", link}).status, 0) << link;
        EXPECT_TRUE(std::filesystem::is_symlink(link)) << link;
        EXPECT_EQ(readfile(file), "031415\n") << link;
        EXPECT_EQ(permissionbits(file), 0640u) << link;
    }

    // A new file gets the mode any new file gets: 0666 less the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const std::string fresh = scratch.path("new.txt");
    ASSERT_EQ(run({"5", fresh}).status, 0);
    EXPECT_EQ(permissionbits(fresh), 0666u & ~mask);
    EXPECT_EQ(entries(scratch.str()),
              (std::set<std::string>{"absolute.txt", "beside.txt", "new.txt", "out.txt", "sub"}));
}

TEST_P(printingprogram, FileThatCannotBeOpenedIsReported)
{
    const std::string file = scratch.path("no/such/directory/out.txt");
    const auto result = run({"5", file});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "Cannot open " + file + "\n");
    EXPECT_EQ(result.out, "");

    // A loop of symbolic links leads to no file at all: both stay links.
    namespace fs = std::filesystem;
    const std::string a = scratch.path("a");
    fs::create_symlink("b", a);
    fs::create_symlink("a", scratch.path("b"));
    const auto loop = run({"5", a});
    EXPECT_EQ(loop.status, 2);
    EXPECT_EQ(loop.err, "Cannot open " + a + "\n");
    EXPECT_EQ(fs::read_symlink(a), "b");
    EXPECT_EQ(fs::read_symlink(scratch.path("b")), "a");
    EXPECT_EQ(entries(scratch.str()), (std::set<std::string>{"a", "b"}));
}

TEST_P(printingprogram, FailedWritesAreReported)
{
    const auto full = run({"100", "/dev/full"});
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err, "Cannot write /dev/full\n");

    runoptions tofull;
    tofull.stdoutpath = "/dev/full";
    const auto standard = run({"100"}, tofull);
    EXPECT_EQ(standard.status, 2);
    EXPECT_EQ(standard.err, "Cannot write standard output\n");
}

TEST_P(discardingprogram, WritesNothingAndLeavesFileAlone)
{
    const std::string absent = scratch.path("absent.txt");
    const auto result = run({"1000", absent});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(exists(absent));

    const std::string present = scratch.path("present.txt");
    writefile(present, "kept");
    EXPECT_EQ(run({"20", present}).status, 0);
    EXPECT_EQ(readfile(present), "kept");
}

INSTANTIATE_TEST_SUITE_P(all, everyprogram, ::testing::ValuesIn(programs), nameof);
INSTANTIATE_TEST_SUITE_P(printing, printingprogram,
                         ::testing::Values(programs[0], programs[2]), nameof);
INSTANTIATE_TEST_SUITE_P(discarding, discardingprogram,
                         ::testing::Values(programs[1], programs[3]), nameof);
