#include "plainloop.h"

#include <vector>

namespace plainloop {

namespace {

struct plainstate {
    std::vector<std::int32_t> cells;  // cells[j] is A[j + 1]
    std::string released;
    int nines = 0;
    int predigit = 0;

    explicit plainstate(std::int32_t ndigits) : cells(ndigits * 10 / 3, 2) {}

    void pass()
    {
        std::int32_t q = 0;
        for (std::int32_t j = static_cast<std::int32_t>(cells.size()) - 1; j >= 0; --j) {
            const std::int32_t x = 10 * cells[j] + q * (j + 1);
            cells[j] = x % (2 * j + 1);
            q = x / (2 * j + 1);
        }
        cells[0] = q % 10;
        const std::int32_t digit = q / 10;
        if (digit == 9) {
            ++nines;
            return;
        }
        if (digit == 10) {
            released += static_cast<char>('1' + predigit);
            released.append(nines, '0');
            predigit = 0;
        } else {
            released += static_cast<char>('0' + predigit);
            released.append(nines, '9');
            predigit = digit;
        }
        nines = 0;
    }
};

}  // namespace

std::string text(std::int32_t ndigits, std::int32_t passes)
{
    plainstate spigot(ndigits);
    for (std::int32_t p = 0; p < passes; ++p) {
        spigot.pass();
    }
    return spigot.released + static_cast<char>('0' + spigot.predigit);
}

std::string lazytext(std::int32_t ndigits)
{
    if (ndigits == 0) {
        return "0";
    }
    plainstate spigot(ndigits);
    const auto length = static_cast<std::size_t>(ndigits) + 1;
    while (spigot.released.size() < length) {
        spigot.pass();
    }
    return spigot.released.substr(0, length);
}

}  // namespace plainloop
