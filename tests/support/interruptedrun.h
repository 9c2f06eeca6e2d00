#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <iterator>  // distance
#include <string>

#include "inchild.h"
#include "runprogram.h"

namespace testsupport {

// For each signal that ends a run: FILE holds "old\n", and writetext(FILE,
// signal), in a child, writes "031415" to it but raises signal once its
// temporary exists. The child must die of that signal, leaving FILE as it
// was and nothing else in its directory. A child started with SIGHUP
// ignored, as nohup starts it, must ignore it still and write FILE whole.
template <typename writer>
void expectinterruptedwritesleavefilealone(const std::string& tag, writer writetext)
{
    namespace fs = std::filesystem;
    const fs::path directory = fs::temp_directory_path() / (tag + std::to_string(::getpid()));
    fs::create_directories(directory);
    const fs::path file = directory / "out.txt";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        testsupport::writefile(file.string(), "old\n");
        const auto child = inchild([&] { writetext(file.string(), signal); });
        ASSERT_TRUE(WIFSIGNALED(child.status)) << "signal " << signal;
        EXPECT_EQ(WTERMSIG(child.status), signal);
        EXPECT_EQ(testsupport::readfile(file.string()), "old\n") << "signal " << signal;
        EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1)
            << "a temporary was left behind, signal " << signal;
    }
    testsupport::writefile(file.string(), "old\n");
    const auto hangup = inchild([&] {
        ::signal(SIGHUP, SIG_IGN);
        writetext(file.string(), SIGHUP);
    });
    EXPECT_TRUE(WIFEXITED(hangup.status) && WEXITSTATUS(hangup.status) == 0) << "an ignored SIGHUP ended the run";
    EXPECT_EQ(testsupport::readfile(file.string()), "031415\n");
    fs::remove_all(directory);
}

// writetext(FILE, signal), in a child, writes "031415" over FILE's "old\n"
// in place, and raises SIGINT from within its write: the signal waits
// until FILE holds the whole new text, and then ends the child.
template <typename writer>
void expectinplacewritefinishesbeforeasignal(const std::string& tag, writer writetext)
{
    namespace fs = std::filesystem;
    const fs::path directory = fs::temp_directory_path() / (tag + "inplace" + std::to_string(::getpid()));
    fs::create_directories(directory);
    const fs::path file = directory / "out.txt";
    testsupport::writefile(file.string(), "old\n");
    const auto child = inchild([&] { writetext(file.string(), SIGINT); });
    EXPECT_TRUE(WIFSIGNALED(child.status) && WTERMSIG(child.status) == SIGINT) << child.status;
    EXPECT_EQ(testsupport::readfile(file.string()), "031415\n");
    fs::remove_all(directory);
}

// showandraise, in a child, notes a progress line of 5 characters and
// raises SIGINT: the line must be erased and the child die of SIGINT.
template <typename body>
void expectinterruptionerasesprogress(body showandraise)
{
    const auto child = inchild(showandraise);
    ASSERT_TRUE(WIFSIGNALED(child.status));
    EXPECT_EQ(WTERMSIG(child.status), SIGINT);
    EXPECT_EQ(child.err, "\r     \r");
}

// drawanderaseandraise, in a child, draws a progress line, erases it and
// raises SIGINT: the child must die of SIGINT having written the line and
// its erase alone. The line is gone by then, and whatever the terminal's
// line holds next (the text, a message) is not the handler's to cover.
template <typename body>
void expectnoeraseafterthelineisgone(body drawanderaseandraise)
{
    const auto child = inchild(drawanderaseandraise);
    ASSERT_TRUE(WIFSIGNALED(child.status));
    EXPECT_EQ(WTERMSIG(child.status), SIGINT);
    ASSERT_EQ(child.err.substr(0, 1), "\r");
    const std::size_t end = child.err.find('\r', 1);
    ASSERT_NE(end, std::string::npos) << child.err;
    const std::size_t length = end - 1;
    ASSERT_GT(length, 0u);
    std::string erase(length + 2, ' ');
    erase.front() = erase.back() = '\r';
    EXPECT_EQ(child.err.substr(end), erase) << "the handler wrote after the line was erased";
}

}  // namespace testsupport
