#include "pidigits.h"

#include <algorithm>

#include "spigot.h"

namespace generator {

std::string pidigits(std::int32_t ndigits) { return pidigits(ndigits, nullptr); }

std::string pidigits(std::int32_t ndigits, const std::function<void(std::int64_t)>& onwork)
{
    spigot digits(ndigits);
    std::string text;
    text.resize(static_cast<std::size_t>(ndigits) + 1);
    // The fill polls a copy taken here; `digits` itself is never advanced.
    std::int64_t reported = -1;
    std::generate(text.begin(), text.end(), [polled = digits, &reported, &onwork]() mutable {
        if (onwork && reported < 0) {
            polled.makecells();
            onwork(reported = 0);
            polled.tellwork([&reported, &onwork](std::int64_t done) {
                if (done > reported) {
                    onwork(reported = done);
                }
            });
        }
        const char digit = polled.nextdigit();
        if (onwork && polled.digitsrun() > reported) {
            onwork(reported = polled.digitsrun());
        }
        return digit;
    });
    return text;
}

}  // namespace generator
