// The AVX-512 variant: sixteen vectors of eight passes, 128 a batch.
// A step's chain is about 15 cycles: twelve independent vectors cover only
// 92% of what two FMA pipes allow (the bound meter shows it), sixteen all
// of it. Built with -mavx512f for this file alone.
#include <immintrin.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(64)));

// The form rounded down (passbatch.h): with the reciprocal rounded up,
// x reciprocal + 1.5 2^52, formed exactly and rounded down once, is
// 1.5 2^52 + q; one rounding instruction fewer than a floor. The
// reciprocals of the cells entering are vector divisions, rounded up by
// the instruction itself: no table.
struct roundingdown {
    static constexpr bool tabled = false;
    static vector reciprocals(const vector& divisors)
    {
        return vector(_mm512_div_round_pd(_mm512_set1_pd(1.0), __m512d(divisors),
                                          _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC));
    }
    static vector constant(double) { return vector{} + 0x1.8p52; }
    static vector quotient(const vector& x, const vector& reciprocal, const vector& rounder)
    {
        const __m512d y = _mm512_fmadd_round_pd(__m512d(x), __m512d(reciprocal), __m512d(rounder),
                                                _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        return vector(_mm512_sub_pd(y, __m512d(rounder)));
    }
};

}  // namespace

void advanceavx512(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass)
{
    rotated::advancebatch<vector, avx512passes / rotated::widthof<vector>, roundingdown>(cells, run, lowest, pass);
}

void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, roundingdown>(x, reciprocals, quotients, count, bias);
}

}  // namespace generator::variants
