#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace generator {

// The digit text for a count of N: N + 1 characters, "0" then pi from the 3.
std::string pidigits(std::int32_t ndigits);

// The same, telling onwork the digits' worth of passes run (the work done,
// which costs the same for every pass): 0 once the cells are made and the
// passes are about to start, then the total after each batch.
std::string pidigits(std::int32_t ndigits, const std::function<void(std::int64_t)>& onwork);

}  // namespace generator
