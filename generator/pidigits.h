#pragma once

#include <cstdint>
#include <string>

namespace generator {

// The digit text for a count of N: N + 1 characters, "0" then pi from the 3.
std::string pidigits(std::int32_t ndigits);

}  // namespace generator
