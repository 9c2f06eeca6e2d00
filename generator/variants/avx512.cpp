// The AVX-512 variant: sixteen vectors of eight passes, a batch at once.
// A step's chain is about 15 cycles: twelve independent vectors cover only
// 92% of what two FMA pipes allow (the bound meter shows it), sixteen all
// of it. Built with -mavx512f for this file alone.
#include <immintrin.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(64)));

// y = x * reciprocal + 2^-30 lies strictly between q and q + 1
// (rotatedpasses.h): rounded towards minus infinity, it is q.
struct floorinstruction {
    static vector quotient(const vector& x, const vector& reciprocal)
    {
        return vector(
            _mm512_roundscale_pd(__m512d(x * reciprocal + 0x1p-30), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    }
};

}  // namespace

void runavx512(double* cells, const double* reciprocals, std::int32_t cellcount, double* carries)
{
    rotated::runbatch<vector, 16, floorinstruction>(cells, reciprocals, cellcount, carries);
}

void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count);
}

}  // namespace generator::variants
