#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace generator {

// "42% of 100000 digits, about 3 s left": `done` of `total` units of work
// (each costs the same) after `elapsed` seconds, for a text of ndigits.
std::string progresstext(std::int32_t ndigits, std::int32_t done, std::int32_t total, double elapsed);

// Whether standard error is a terminal, the only place progress shows.
bool standarderroristerminal();

// A line on a terminal, rewritten in place, that tells how far a long run
// has come. It shows once the run has gone on for a second, is redrawn at
// most four times a second, and is erased by erase() or when it goes.
class progressline {
public:
    using clock = std::function<double()>;  // seconds, never going back

    // Seconds before the line first shows (a test build may shorten it),
    // and between redraws.
#if defined(PI_PROGRESS_DELAY)
    static constexpr double delay = PI_PROGRESS_DELAY;
#else
    static constexpr double delay = 1.0;
#endif
    static constexpr double interval = 0.25;

    progressline(std::int32_t ndigits, std::int32_t total, std::ostream& terminal, bool enabled,
                 clock now = steadyseconds);
    ~progressline();
    progressline(const progressline&) = delete;
    progressline& operator=(const progressline&) = delete;

    // `done` units so far; 0 when the work starts, so that setting up
    // (making the cells) does not count in the rate the time left follows.
    void report(std::int32_t done);
    // Call before anything else is written to the terminal.
    void erase();
    // Erases whichever line shows, from a handler that cannot reach it.
    static void eraseshown();

    static double steadyseconds();

private:
    void draw(const std::string& text);

    std::int32_t ndigits;
    std::int32_t total;
    std::ostream& terminal;
    bool enabled;
    clock now;
    double started;
    double workstarted;
    double lastdrawn = -1.0;
    std::size_t shownlength = 0;
};

}  // namespace generator
