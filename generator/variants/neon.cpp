// The arm64 variant, on the NEON every arm64 processor has: sixteen
// vectors of two passes, four times over for a batch, to cover a step's
// chain (about 15 cycles) with up to four FMA pipes, within the 32
// registers.
#include <arm_neon.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(16)));

// y = x * reciprocal + 2^-30 lies strictly between q and q + 1
// (rotatedpasses.h): rounded towards minus infinity, it is q.
struct floorinstruction {
    static vector quotient(const vector& x, const vector& reciprocal)
    {
        return vector(vrndmq_f64(float64x2_t(x * reciprocal + 0x1p-30)));
    }
};

}  // namespace

void runneon(double* cells, const double* reciprocals, std::int32_t cellcount, double* carries)
{
    rotated::runbatch<vector, 16, floorinstruction>(cells, reciprocals, cellcount, carries);
}

void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count);
}

}  // namespace generator::variants
