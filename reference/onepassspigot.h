#pragma once

#include <cstdint>
#include <vector>

// The generator as it first was: one pass at a time, one ldiv per cell.
// The reference every batch variant of the generator is checked against,
// and the loop the benchmarks measure them by.
namespace onepass {

// One pass's step over one cell, applied by std::transform from the highest
// cell down to cell 1. It carries the cell number (the multiplier) and the
// cell's divisor 2 * number - 1, and writes the pass's running quotient into
// the owning spigot's carry.
struct spigotstep {
    std::int32_t mult;
    std::int32_t div;
    std::int32_t* carry;

    std::int32_t operator()(std::int32_t cell);
};

// The digit text as a lazy generator: each nextdigit() call hands out one
// character, "0" first, then the digits of pi from the 3 on. A copy carries
// the whole state and advances independently of the original.
class spigot {
public:
    explicit spigot(std::int32_t ndigits);

    char nextdigit();

private:
    // Runs one pass over every cell and returns its raw digit, 0 to 10.
    std::int32_t runpass();

    // Cell A[len] first, A[1] last: a pass walks front to back.
    std::vector<std::int32_t> remainders;
    std::int32_t ndigits;
    std::int32_t nines = 0;
    std::int32_t predigit = 0;
    // After a pass: its raw digit, which still decides whether the held
    // nines come out as nines or, after a carry (10), as zeros.
    std::int32_t carry = 0;
};

}  // namespace onepass
