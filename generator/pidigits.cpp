#include "pidigits.h"

#include <algorithm>

#include "spigot.h"

namespace generator {

std::string pidigits(std::int32_t ndigits)
{
    spigot digits(ndigits);
    std::string text;
    text.resize(static_cast<std::size_t>(ndigits) + 1);
    // The fill polls a copy taken here; `digits` itself is never advanced.
    std::generate(text.begin(), text.end(),
                  [polled = digits]() mutable { return polled.nextdigit(); });
    return text;
}

}  // namespace generator
