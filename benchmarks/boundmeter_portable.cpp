// The bound for the portable kernels: the baseline vectors the compiler
// makes for any processor of the target (SSE2 on x86-64, NEON on arm64),
// which have no floor instruction to count on, so the rounding is by adds.
#include "boundchains.h"

namespace {

typedef double vector128 __attribute__((vector_size(16)));

BOUNDMETER_CHAINS(portableadds, vector128, boundmeter::byadds, boundmeter::byadds::bias, 8)
BOUNDMETER_CHAINS(portableadds, vector128, boundmeter::byadds, boundmeter::byadds::bias, 12)
BOUNDMETER_CHAINS(portableadds, vector128, boundmeter::byadds, boundmeter::byadds::bias, 16)
BOUNDMETER_CHAINS(portableadds, vector128, boundmeter::byadds, boundmeter::byadds::bias, 24)
BOUNDMETER_SHAPE(lanes, runlanechains, portableadds, vector128, boundmeter::byadds, boundmeter::byadds::bias, 16)

}  // namespace

namespace boundmeter {

std::vector<meter> portablemeters()
{
    return {{"adds", 2, 8, portableadds8}, {"adds", 2, 12, portableadds12},
            {"adds", 2, 16, portableadds16}, {"adds", 2, 24, portableadds24},
            {"lanes", 2, 16, portableaddslanes16, true}};
}

}  // namespace boundmeter
