// The bound for AVX-512. Built with -mavx512f for this file alone.
#include <immintrin.h>

#include "boundchains.h"

namespace {

typedef double vector512 __attribute__((vector_size(64)));

struct floor512 {
    vector512 operator()(const vector512& y) const
    {
        return vector512(_mm512_roundscale_pd(__m512d(y), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    }
};

// The form rounded down: x r + 1.5 2^52 rounded down once, less 1.5 2^52;
// its constant is the 1.5 2^52.
struct rounddown512 {
    vector512 operator()(const vector512& x, const vector512& reciprocal, const vector512& rounder) const
    {
        const __m512d y = _mm512_fmadd_round_pd(__m512d(x), __m512d(reciprocal), __m512d(rounder),
                                                _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        return vector512(_mm512_sub_pd(y, __m512d(rounder)));
    }
};
constexpr double rounder = 0x1.8p52;

BOUNDMETER_CHAINS(avx512floor, vector512, floor512, boundmeter::floorbias, 12)
BOUNDMETER_CHAINS(avx512floor, vector512, floor512, boundmeter::floorbias, 16)
BOUNDMETER_CHAINS(avx512floor, vector512, floor512, boundmeter::floorbias, 24)
BOUNDMETER_CHAINS(avx512adds, vector512, boundmeter::byadds, boundmeter::byadds::bias, 12)
BOUNDMETER_CHAINS(avx512adds, vector512, boundmeter::byadds, boundmeter::byadds::bias, 16)
BOUNDMETER_CHAINS(avx512adds, vector512, boundmeter::byadds, boundmeter::byadds::bias, 24)
BOUNDMETER_CHAINS(avx512rounddown, vector512, rounddown512, rounder, 12)
BOUNDMETER_CHAINS(avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_CHAINS(avx512rounddown, vector512, rounddown512, rounder, 24)
BOUNDMETER_SHAPE(ring, runringchains, avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_RING(ringoftwo, avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_RING(ringloads, avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_RING(ringrenewal, avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_RING(ringrotated, avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_RING(ringdivided, avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_RING(kernelstep, avx512rounddown, vector512, rounddown512, rounder, 16)
BOUNDMETER_RING(ringpartlyinregisters, avx512rounddown, vector512, rounddown512, rounder, 16)

}  // namespace

namespace boundmeter {

std::vector<meter> avx512meters()
{
    return {{"floor", 8, 12, avx512floor12}, {"floor", 8, 16, avx512floor16}, {"floor", 8, 24, avx512floor24},
            {"adds", 8, 12, avx512adds12},   {"adds", 8, 16, avx512adds16},   {"adds", 8, 24, avx512adds24},
            {"rounddown", 8, 12, avx512rounddown12}, {"rounddown", 8, 16, avx512rounddown16},
            {"rounddown", 8, 24, avx512rounddown24}, {"ring", 8, 16, avx512rounddownring16, true},
            {"ringoftwo", 8, 16, avx512rounddownringoftwo16, true},
            {"ringloads", 8, 16, avx512rounddownringloads16, true},
            {"ringrenewal", 8, 16, avx512rounddownringrenewal16, true},
            {"ringrotated", 8, 16, avx512rounddownringrotated16, true},
            {"ringdivided", 8, 16, avx512rounddownringdivided16, true},
            {"kernelstep", 8, 16, avx512rounddownkernelstep16, true},
            {"ringpartlyinregisters", 8, 16, avx512rounddownringpartlyinregisters16, true}};
}

}  // namespace boundmeter
