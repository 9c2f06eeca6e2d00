// The bound for AVX2 with FMA. Built with -mavx2 -mfma for this file alone.
#include <immintrin.h>

#include "boundchains.h"

namespace {

typedef double vector256 __attribute__((vector_size(32)));

struct floor256 {
    vector256 operator()(const vector256& y) const { return vector256(_mm256_floor_pd(__m256d(y))); }
};

BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 8)
BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 10)
BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 12)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 8)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 10)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 12)
// Sixteen chains and their constants overflow the sixteen registers: the
// compiler spills some x values to the stack.
BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 16)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 16)
BOUNDMETER_SHAPE(ring, runringchains, avx2floor, vector256, floor256, boundmeter::floorbias, 8)
BOUNDMETER_SHAPE(ring, runringchains, avx2floor, vector256, floor256, boundmeter::floorbias, 12)
BOUNDMETER_SHAPE(ring, runringchains, avx2floor, vector256, floor256, boundmeter::floorbias, 16)
BOUNDMETER_SHAPE(ringoftwo, runtwonumberringchains, avx2floor, vector256, floor256, boundmeter::floorbias, 16)
BOUNDMETER_SHAPE(ring, runringchains, avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 16)

}  // namespace

namespace boundmeter {

std::vector<meter> avx2meters()
{
    return {{"floor", 4, 8, avx2floor8},  {"floor", 4, 10, avx2floor10}, {"floor", 4, 12, avx2floor12},
            {"adds", 4, 8, avx2adds8},    {"adds", 4, 10, avx2adds10},   {"adds", 4, 12, avx2adds12},
            {"floor", 4, 16, avx2floor16},  {"adds", 4, 16, avx2adds16},
            {"ring", 4, 8, avx2floorring8, true},   {"ring", 4, 12, avx2floorring12, true},
            {"ring", 4, 16, avx2floorring16, true}, {"ringadds", 4, 16, avx2addsring16, true},
            {"ringoftwo", 4, 16, avx2floorringoftwo16, true}};
}

}  // namespace boundmeter
