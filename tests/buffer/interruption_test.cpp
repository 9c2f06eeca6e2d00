// A run that a signal ends removes its temporary, leaves FILE as it was,
// erases its progress line and dies of that signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

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
    const int descriptor = maketemporaryin(directory, pattern);
    ::raise(signaltosend);
    return descriptor;
}

void raisingonnotice(const char*) { ::raise(signaltosend); }

}  // namespace

TEST(interruption, ASignalOnceTheTemporaryExistsRemovesItAndLeavesFileAlone)
{
    for (const bool inmkstemp : {true, false}) {
        SCOPED_TRACE(inmkstemp ? "raised in mkstemp" : "raised once the temporary is known");
        testsupport::expectinterruptedwritesleavefilealone("pibuffer", [inmkstemp](const std::string& file, int signal) {
            cleanuponsignals();
            signaltosend = signal;
            if (inmkstemp) {
                filesystem.maketemporary = raisinginmkstemp;
            } else {
                filesystem.temporarymade = raisingonnotice;
            }
            writefile(file.c_str(), "031415");
        });
    }
}

TEST(interruption, ASignalDuringAWriteInPlaceWaitsForTheWholeText)
{
    testsupport::expectinplacewritefinishesbeforeasignal("pibuffer", [](const std::string& file, int signal) {
        cleanuponsignals();
        signaltosend = signal;
        filesystem.maketemporary = [](int, char*) { errno = EACCES; return -1; };
        filesystem.write = [](int descriptor, const void* data, std::size_t size) {
            ::raise(signaltosend);
            return ::write(descriptor, data, size);
        };
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

TEST(interruption, ASignalAfterTheLineIsErasedWritesNothing)
{
    testsupport::expectnoeraseafterthelineisgone([] {
        cleanuponsignals();
        struct progressline progress;
        startprogress(&progress, 1000);
        progress.enabled = 1;  // standard error is a pipe here
        progress.started = -1000.0;  // long enough ago for the line to be due
        reportprogress(&progress, 500);
        endprogress(&progress);
        raise(SIGINT);
    });
}
