#pragma once

#include <cstdint>
#include <optional>

// Digit-count texts and what both kinds of program must make of them: the
// count, or nothing when it is out of range.
namespace testsupport {

struct countcase {
    const char* text;
    std::optional<std::int32_t> count;
};

inline constexpr countcase countcases[] = {
    // Read as atoi reads them.
    {"10", 10},
    {" \t\n\v\f\r42", 42},
    {"+7", 7},
    {"12abc", 12},
    {"007", 7},
    {"1e3", 1},
    {"abc", 0},
    {"", 0},
    {"-", 0},
    {"-0", 0},
    {"+-5", 0},
    {" - 5", 0},
    // Exactly 0 to 16953818 accepted.
    {"16953818", 16953818},
    {"0016953818", 16953818},
    {"16953819", std::nullopt},
    {"-1", std::nullopt},
    // 2^32 + 1 would wrap to 1 in 32-bit arithmetic.
    {"4294967297", std::nullopt},
    {"99999999999999999999999999999999", std::nullopt},
    {"-99999999999999999999999999999999", std::nullopt},
};

}  // namespace testsupport
