#pragma once

#include <cstdint>
#include <string>

// The plain loop: the spigot written as plainly as it can be, with a 32-bit
// integer divide per cell, independent of both programs' code. The tests
// check the programs against it and the benchmarks measure them by it. It
// releases eagerly: every non-nine raw digit writes the held predigit and
// the nines behind it at once.
namespace plainloop {

// The text of a spigot of (10 * N) / 3 cells after exactly `passes` passes:
// what it released, then its predigit. Nines still held are not written.
std::string text(std::int32_t ndigits, std::int32_t passes);

// The first N + 1 characters the same spigot releases when it runs as many
// passes as that takes (N = 0 gives the predigit alone).
std::string lazytext(std::int32_t ndigits);

}  // namespace plainloop
