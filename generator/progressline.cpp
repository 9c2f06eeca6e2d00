#include "progressline.h"

#include <unistd.h>  // isatty

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>
#include <sstream>

#include "interruption.h"

namespace generator {

namespace {

progressline* shown = nullptr;

}  // namespace

std::string progresstext(std::int32_t ndigits, std::int32_t done, std::int32_t total, double elapsed)
{
    const auto percent = total > 0 ? 100 * std::int64_t{done} / total : 100;
    // Every unit costs the same, so the rest takes as long per unit.
    double left = done > 0 ? std::ceil(elapsed * (total - done) / done) : 0.0;
    // A million hours is beyond any run; the cap keeps the integers below small.
    if (!(left < 3.6e9)) {
        left = 3.6e9;
    }
    const auto seconds = static_cast<std::int64_t>(left);
    const std::int64_t minutes = (seconds + 30) / 60;  // half a minute rounds up
    std::ostringstream text;
    text << percent << "% of " << ndigits << " digits, about ";
    if (seconds < 120) {
        text << seconds << " s left";
    } else if (minutes < 120) {
        text << minutes << " min left";
    } else {
        text << minutes / 60 << " h " << minutes % 60 << " min left";
    }
    return text.str();
}

bool standarderroristerminal() { return ::isatty(STDERR_FILENO) == 1; }

double progressline::steadyseconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

progressline::progressline(std::int32_t ndigits, std::int32_t total, std::ostream& terminal,
                           bool enabled, clock now)
    : ndigits(ndigits), total(total), terminal(terminal), enabled(enabled), now(std::move(now)),
      started(enabled ? this->now() : 0.0), workstarted(started)
{
}

progressline::~progressline() { erase(); }

void progressline::report(std::int32_t done)
{
    // A finished run has nothing left to show: its line is erased next.
    if (!enabled || done >= total) {
        return;
    }
    const double time = now();
    if (done == 0) {
        workstarted = time;
        return;
    }
    if (lastdrawn < 0.0 ? time - started < delay : time - lastdrawn < interval) {
        return;
    }
    draw(progresstext(ndigits, done, total, time - workstarted));
    lastdrawn = time;
}

void progressline::erase()
{
    if (shownlength > 0) {
        draw("");
    }
}

void progressline::eraseshown()
{
    if (shown != nullptr) {
        shown->erase();
    }
}

void progressline::draw(const std::string& text)
{
    // Spaces cover what a longer line left; an erased line leaves the cursor
    // at the start. Nothing here allocates, so erasing works when memory
    // has run out. A signal while the line is drawn erases all it may cover.
    noteprogressline(std::max(text.size(), shownlength));
    terminal << '\r' << text;
    for (std::size_t column = text.size(); column < shownlength; ++column) {
        terminal << ' ';
    }
    if (text.empty()) {
        terminal << '\r';
    }
    terminal << std::flush;
    shownlength = text.size();
    shown = shownlength > 0 ? this : nullptr;
    noteprogressline(shownlength);
}

}  // namespace generator
