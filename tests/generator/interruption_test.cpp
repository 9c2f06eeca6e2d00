// A run that a signal ends removes its temporary, leaves FILE as it was,
// erases its progress line and dies of that signal.
#include <gtest/gtest.h>

#include <signal.h>

#include <sstream>

#include "filereplacement.h"
#include "interruptedrun.h"
#include "interruption.h"

namespace {
int signaltosend = 0;
}  // namespace

TEST(interruption, ASignalOnceTheTemporaryExistsRemovesItAndLeavesFileAlone)
{
    testsupport::expectinterruptedwritesleavefilealone("pigenerator", [](const std::string& file, int signal) {
        generator::cleanuponsignals();
        signaltosend = signal;
        generator::filesystem.temporarymade = [](const char*) { raise(signaltosend); };
        std::ostringstream err;
        generator::writefile(file.c_str(), err, "031415");
    });
}

TEST(interruption, ASignalErasesTheProgressLine)
{
    testsupport::expectinterruptionerasesprogress([] {
        generator::cleanuponsignals();
        generator::noteprogressline(5);
        raise(SIGINT);
    });
}
