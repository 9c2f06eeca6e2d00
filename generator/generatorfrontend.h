#pragma once

#include <cstdint>
#include <iosfwd>
#include <new>
#include <optional>
#include <string>

// What the two generator programs share: reading the digit count, writing
// the text, and the exit statuses.
namespace generator {

enum exitstatus : int {
    exitsuccess = 0,
    exitusage = 1,
    exitoutput = 2,
    exitoutofmemory = 3,
};

// The largest N with 38 * ((10 * N) / 3) <= 2^31 - 1: every value of a pass
// stays in 32 bits up to it.
inline constexpr std::int32_t maxdigits = 16953818;

// The count text gives as atoi reads it (leading white space, an optional
// sign, digits up to the first non-digit; no digits reads as 0) if it is
// one the programs accept, nothing otherwise; never overflowing.
std::optional<std::int32_t> digitcount(const char* text);

// Checks the command line and builds the text for its digit count. On a
// missing count or a count out of range, reports on err and returns the
// exit status; otherwise returns exitsuccess.
int buildtext(int argc, char** argv, std::ostream& err, std::string& text);

// Writes text and a line end to out and flushes; on failure reports on err
// and returns exitoutput.
int writestandardoutput(std::ostream& out, std::ostream& err, const std::string& text);

// "Out of memory" on err and exitoutofmemory.
int reportoutofmemory(std::ostream& err);

// From here on, a failed allocation that cannot even raise std::bad_alloc
// (the exception itself needs memory) still ends in "Out of memory" and
// exitoutofmemory rather than an abort.
void reportoutofmemoryonterminate();

// Runs a program's body: an allocation that fails anywhere in it gives
// "Out of memory" and exitoutofmemory, with nothing on standard output.
template <typename body>
int runguarded(std::ostream& err, body run)
{
    reportoutofmemoryonterminate();
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return reportoutofmemory(err);
    }
}

}  // namespace generator
