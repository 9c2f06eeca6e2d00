#pragma once

#include <cstddef>
#include <string>

// A run that a signal ends (SIGINT, SIGTERM, SIGHUP, SIGPIPE) first removes
// the temporary it may have made beside FILE and erases the progress line
// it may be showing, then dies of that same signal, so that its exit
// status still says what ended it. Only async-signal-safe calls run in the
// handler, over state noted beforehand. Uses POSIX signals.
namespace generator {

// Installs the handler; a signal the process was started ignoring stays
// ignored.
void cleanuponsignals();

// The ending signals held off, then let through again: a signal that came
// meanwhile is handled on release. For a span that must not be cut short,
// such as making a file and removing it again.
void holdsignals();
void releasesignals();

// make(directory, pattern), which makes a file in directory as mkstemp
// does, the file made noted as the temporary to remove, with the signals
// held off in between so that none can leave it behind. The directory
// stays open until the temporary is forgotten.
int maketemporary(int directory, std::string& pattern, int (*make)(int directory, char* pattern));

// There is no temporary to remove any more.
void forgettemporary();

// The characters the progress line shows now, 0 when it is erased.
void noteprogressline(std::size_t length);

}  // namespace generator
