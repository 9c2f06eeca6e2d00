#include "generatorfrontend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <ostream>

#include "interruption.h"
#include "pidigits.h"
#include "progressline.h"

namespace generator {

namespace {

constexpr const char* usagemessage = "usage: pi #DIGITS [FILE]";
constexpr const char* outofmemorymessage = "Out of memory\n";

// Reached when not even the exception for a failed allocation could be
// made; anything else that ends here is a fault, and aborts as it would.
[[noreturn]] void terminateoutofmemory()
{
    const std::exception_ptr pending = std::current_exception();
    if (pending) {
        try {
            std::rethrow_exception(pending);
        } catch (const std::bad_alloc&) {
        } catch (...) {
            std::abort();
        }
    }
    progressline::eraseshown();
    std::fputs(outofmemorymessage, stderr);
    std::_Exit(exitoutofmemory);
}

}  // namespace

std::optional<std::int32_t> digitcount(const char* text)
{
    // strtoll reads what atoi reads, in the "C" locale the programs keep,
    // and saturates where atoi would overflow.
    const long long count = std::strtoll(text, nullptr, 10);
    if (count < 0 || count > maxdigits) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(count);
}

int reportoutofmemory(std::ostream& err)
{
    err << outofmemorymessage;
    return exitoutofmemory;
}

void reportoutofmemoryonterminate() { std::set_terminate(terminateoutofmemory); }

int buildtext(int argc, char** argv, std::ostream& err, std::string& text)
{
    if (argc <= 1) {
        err << usagemessage << std::endl;
        return exitusage;
    }
    const std::optional<std::int32_t> count = digitcount(argv[1]);
    if (!count) {
        err << "#DIGITS must be between 0 and " << maxdigits << '\n';
        return exitusage;
    }
    // From here a signal that ends the run tidies up first.
    cleanuponsignals();
    // The text has count + 1 characters, each costing a pass; the work is
    // the passes run. The line goes with `progress`, before anything else
    // is written.
    const std::int32_t total = *count + 1;
    progressline progress(*count, total, err, standarderroristerminal());
    text = pidigits(*count, [&progress, total](std::int64_t done) {
        progress.report(static_cast<std::int32_t>(std::min<std::int64_t>(done, total)));
    });
    return exitsuccess;
}

int writestandardoutput(std::ostream& out, std::ostream& err, const std::string& text)
{
    out << text << '\n' << std::flush;
    if (!out) {
        err << "Cannot write standard output\n";
        return exitoutput;
    }
    return exitsuccess;
}

}  // namespace generator
