// The AVX2 variant, with FMA: sixteen vectors of four passes, twice over
// for a batch. A step's chain (multiply-add, floor, multiply-subtract,
// multiply-add) is about 15 cycles, which eight vectors leave uncovered on
// a processor with two FMA pipes; the x values then spill from the sixteen
// registers, but the spills run beside the arithmetic. Built with -mavx2
// -mfma for this file alone.
#include <immintrin.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(32)));

// y = x * reciprocal + 2^-30 lies strictly between q and q + 1
// (rotatedpasses.h): its floor is q.
struct floorinstruction {
    static vector quotient(const vector& x, const vector& reciprocal)
    {
        return vector(_mm256_floor_pd(__m256d(x * reciprocal + 0x1p-30)));
    }
};

}  // namespace

void runavx2(double* cells, const double* reciprocals, std::int32_t cellcount, double* carries)
{
    rotated::runbatch<vector, 16, floorinstruction>(cells, reciprocals, cellcount, carries);
}

void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count);
}

}  // namespace generator::variants
