#pragma once

#include <cstdint>
#include <string>

#include "runprogram.h"

namespace testsupport {

// A digit count at which `program`, run with that count alone, lasts at
// least about `seconds` on this machine as it runs now, for tests whose
// outcome needs a run that long (a progress line drawn and redrawn). It is
// measured, never assumed: the program is timed at growing counts until a
// run is long enough to time well, and that count is scaled by the square
// root of the time wanted over the time taken, the spigot's cost growing
// as the count squared. The fastest of a few runs is the one scaled, so a
// moment's load on the machine makes the count larger, never smaller.
// Measured once per program and duration, then remembered.
std::int32_t countlasting(const std::string& program, double seconds, const runoptions& options = {});

}  // namespace testsupport
