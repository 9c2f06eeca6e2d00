// A run that a signal ends removes its temporary, leaves FILE as it was,
// erases its progress line and dies of that signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <iostream>
#include <sstream>

#include "filereplacement.h"
#include "interruptedrun.h"
#include "interruption.h"
#include "progressline.h"

namespace {

int signaltosend = 0;

// Raised inside the call that makes the temporary, before it returns: the
// signals are held off until the temporary is noted.
int raisinginmkstemp(int directory, char* pattern)
{
    const int descriptor = generator::maketemporaryin(directory, pattern);
    ::raise(signaltosend);
    return descriptor;
}

void raisingonnotice(const char*) { ::raise(signaltosend); }

}  // namespace

TEST(interruption, ASignalOnceTheTemporaryExistsRemovesItAndLeavesFileAlone)
{
    for (const bool inmkstemp : {true, false}) {
        SCOPED_TRACE(inmkstemp ? "raised in mkstemp" : "raised once the temporary is known");
        testsupport::expectinterruptedwritesleavefilealone("pigenerator", [inmkstemp](const std::string& file, int signal) {
            generator::cleanuponsignals();
            signaltosend = signal;
            if (inmkstemp) {
                generator::filesystem.maketemporary = raisinginmkstemp;
            } else {
                generator::filesystem.temporarymade = raisingonnotice;
            }
            std::ostringstream err;
            generator::writefile(file.c_str(), err, "031415");
        });
    }
}

TEST(interruption, ASignalDuringAWriteInPlaceWaitsForTheWholeText)
{
    testsupport::expectinplacewritefinishesbeforeasignal("pigenerator", [](const std::string& file, int signal) {
        generator::cleanuponsignals();
        signaltosend = signal;
        generator::filesystem.maketemporary = [](int, char*) { errno = EACCES; return -1; };
        generator::filesystem.write = [](int descriptor, const void* data, std::size_t size) {
            ::raise(signaltosend);
            return ::write(descriptor, data, size);
        };
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

TEST(interruption, ASignalAfterTheLineIsErasedWritesNothing)
{
    testsupport::expectnoeraseafterthelineisgone([] {
        generator::cleanuponsignals();
        {
            // Drawn at once on a clock long past its delay, erased as it goes.
            double now = 0.0;
            generator::progressline line(1000, 1000, std::cerr, true, [&now] { return now; });
            now = 1000.0;
            line.report(500);
        }
        raise(SIGINT);
    });
}
