#pragma once

#include <cstdint>
#include <string>

// The oracle: the spigot written as the plainest loop, independent of both
// programs' code. It releases eagerly: every non-nine raw digit writes the
// held predigit and the nines behind it at once.
namespace testsupport {

// The text of a spigot of (10 * N) / 3 cells after exactly `passes` passes:
// what it released, then its predigit. Nines still held are not written.
std::string plainspigot(std::int32_t ndigits, std::int32_t passes);

// The first N + 1 characters the same spigot releases when it runs as many
// passes as that takes (N = 0 gives the predigit alone).
std::string plainspigotlazy(std::int32_t ndigits);

}  // namespace testsupport
