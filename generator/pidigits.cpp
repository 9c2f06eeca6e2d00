#include "pidigits.h"

#include <algorithm>

#include "spigot.h"

namespace generator {

std::string pidigits(std::int32_t ndigits) { return pidigits(ndigits, nullptr); }

std::string pidigits(std::int32_t ndigits, const std::function<void(std::int32_t)>& afterdigit)
{
    spigot digits(ndigits);
    std::string text;
    text.resize(static_cast<std::size_t>(ndigits) + 1);
    // The fill polls a copy taken here; `digits` itself is never advanced.
    std::int32_t made = 0;
    std::generate(text.begin(), text.end(), [polled = digits, &made, &afterdigit]() mutable {
        const char digit = polled.nextdigit();
        if (afterdigit) {
            afterdigit(++made);
        }
        return digit;
    });
    return text;
}

}  // namespace generator
