// A run that a signal ends removes its temporary, leaves FILE as it was,
// erases its progress line and dies of that signal.
#include <gtest/gtest.h>

#include <signal.h>

#include "filereplacement.h"
#include "interruptedrun.h"
#include "interruption.h"

namespace {
int signaltosend = 0;
}  // namespace

TEST(interruption, ASignalOnceTheTemporaryExistsRemovesItAndLeavesFileAlone)
{
    testsupport::expectinterruptedwritesleavefilealone("pibuffer", [](const std::string& file, int signal) {
        cleanuponsignals();
        signaltosend = signal;
        filesystem.temporarymade = [](const char*) { raise(signaltosend); };
        writefile(file.c_str(), "031415");
    });
}

TEST(interruption, ASignalErasesTheProgressLine)
{
    testsupport::expectinterruptionerasesprogress([] {
        cleanuponsignals();
        noteprogressline(5);
        raise(SIGINT);
    });
}
