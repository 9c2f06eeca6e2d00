// The bound for arm64's NEON, which every arm64 processor has: the floor
// instruction (frintm) beside the rounding by adds the portable meter runs.
#include <arm_neon.h>

#include "boundchains.h"

namespace {

typedef double vector128 __attribute__((vector_size(16)));

struct floor128 {
    vector128 operator()(const vector128& y) const { return vector128(vrndmq_f64(float64x2_t(y))); }
};

BOUNDMETER_CHAINS(neonfloor, vector128, floor128, boundmeter::floorbias, 8)
BOUNDMETER_CHAINS(neonfloor, vector128, floor128, boundmeter::floorbias, 12)
BOUNDMETER_CHAINS(neonfloor, vector128, floor128, boundmeter::floorbias, 16)
BOUNDMETER_CHAINS(neonfloor, vector128, floor128, boundmeter::floorbias, 24)
BOUNDMETER_SHAPE(ring, runringchains, neonfloor, vector128, floor128, boundmeter::floorbias, 16)

}  // namespace

namespace boundmeter {

std::vector<meter> neonmeters()
{
    return {{"floor", 2, 8, neonfloor8}, {"floor", 2, 12, neonfloor12}, {"floor", 2, 16, neonfloor16},
            {"floor", 2, 24, neonfloor24}, {"ring", 2, 16, neonfloorring16, true}};
}

}  // namespace boundmeter
