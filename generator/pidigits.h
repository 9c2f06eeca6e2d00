#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace generator {

// The digit text for a count of N: N + 1 characters, "0" then pi from the 3.
std::string pidigits(std::int32_t ndigits);

// The same, calling afterdigit with the count of characters made so far
// after each one.
std::string pidigits(std::int32_t ndigits, const std::function<void(std::int32_t)>& afterdigit);

}  // namespace generator
