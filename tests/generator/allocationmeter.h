#pragma once

#include <cstddef>

// Every allocation in the generator's tests goes through operator new here:
// counted, failed on demand, and measured.
namespace allocationmeter {

// The number of the allocation that fails with std::bad_alloc, -1 for none;
// allocations are counted while it is set.
extern long failing;
extern long counted;

// Bytes held now, and the most held since resetpeak().
std::size_t livebytes();
std::size_t peakbytes();
void resetpeak();

}  // namespace allocationmeter
