#include "onepassspigot.h"

#include <algorithm>
#include <cstdlib>

namespace onepass {

namespace {

// (10 * N) / 3 cells are enough for N digits; the caller keeps N small enough
// that 10 * N fits in 32 bits.
std::int32_t cellcount(std::int32_t ndigits) { return ndigits * 10 / 3; }

}  // namespace

std::int32_t spigotstep::operator()(std::int32_t cell)
{
    // The carry entering a cell is at most 18, so x < 38 * cells and stays
    // in 32 bits for every count the front ends accept.
    const std::int32_t x = mult * *carry + 10 * cell;
    const std::ldiv_t qr = std::ldiv(x, div);
    *carry = static_cast<std::int32_t>(qr.quot);
    --mult;
    div -= 2;
    return static_cast<std::int32_t>(qr.rem);
}

spigot::spigot(std::int32_t ndigits)
    : remainders(static_cast<std::size_t>(cellcount(ndigits))), ndigits(ndigits)
{
    std::fill(remainders.begin(), remainders.end(), 2);
}

std::int32_t spigot::runpass()
{
    carry = 0;
    const auto cells = static_cast<std::int32_t>(remainders.size());
    std::transform(remainders.begin(), remainders.end(), remainders.begin(),
                   spigotstep{cells, 2 * cells - 1, &carry});
    // The last cell has divisor 1: it came out 0 and the carry holds all of
    // x. It keeps the units; the tens are the raw digit, at most 10.
    remainders.back() = carry % 10;
    carry /= 10;
    return carry;
}

char spigot::nextdigit()
{
    if (ndigits == 0) {
        return static_cast<char>('0' + predigit);
    }
    if (nines > 0) {
        --nines;
        return carry == 10 ? '0' : '9';
    }
    std::int32_t digit = runpass();
    while (digit == 9) {
        ++nines;
        digit = runpass();
    }
    // The predigit is never 9 or 10, so both results are digit characters.
    const std::int32_t released = predigit;
    if (digit == 10) {
        predigit = 0;
        return static_cast<char>('1' + released);
    }
    predigit = digit;
    return static_cast<char>('0' + released);
}

}  // namespace onepass
