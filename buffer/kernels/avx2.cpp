/* The AVX2 kernel: four passes per vector, with FMA, the batch's cells and
   carries held in registers, cells moved up one lane per step.

   Built with -mavx2 -mfma for this file alone. It must not instantiate any
   inline function or template that other files also use: the linker could
   keep this file's copy and run AVX2 code on any processor. */
#include <immintrin.h>

#include "exactdivision.h"
#include "kernels.h"

enum {
    width = 4,
    /* More vectors than registers pairs: the few spills cost less than
       the latency fewer vectors would leave uncovered. */
    vectors = avx2passes / width,
};

static inline __m256d quotient256(__m256d x, __m256d reciprocal)
{
    return _mm256_floor_pd(_mm256_fmadd_pd(x, reciprocal, _mm256_set1_pd(EXACTDIVISION_BIAS)));
}

/* [below's top lane, upper's lanes 0..2]: every lane one place up. */
static inline __m256d shiftup256(__m256d upper, __m256d below)
{
    const __m256d straddle = _mm256_permute2f128_pd(below, upper, 0x21);  // below 2,3, upper 0,1
    return _mm256_shuffle_pd(straddle, upper, 0x5);
}

void runbatchavx2(struct spigotbatch* batch, double* carries)
{
    const int32_t cellcount = batch->cellcount;
    double* cells = batch->cells;
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d ten = _mm256_set1_pd(10.0);
    __m256d cell[vectors];
    __m256d carry[vectors];
    __m256d rest[vectors];
#pragma GCC unroll 16
    for (int i = 0; i < vectors; ++i) {
        cell[i] = _mm256_loadu_pd(cells + cellcount - 1 + width * i);
        carry[i] = _mm256_setzero_pd();
    }
    const int32_t steps = cellcount + avx2passes - 1;
    for (int32_t step = 0; step < steps; ++step) {
        /* Lane k of vector i is pass width * i + k, on cell bottom + that. */
        const int32_t bottom = cellcount - 1 - step;
#pragma GCC unroll 16
        for (int i = 0; i < vectors; ++i) {
            const __m256d index = _mm256_loadu_pd(batch->indices + bottom + width * i);
            const __m256d reciprocal = _mm256_loadu_pd(batch->reciprocals + bottom + width * i);
            const __m256d multiplier = _mm256_add_pd(index, one);
            const __m256d divisor = _mm256_add_pd(index, multiplier);
            const __m256d x = _mm256_fmadd_pd(cell[i], ten, _mm256_mul_pd(carry[i], multiplier));
            const __m256d q = quotient256(x, reciprocal);
            rest[i] = _mm256_fnmadd_pd(q, divisor, x);
            carry[i] = q;
        }
        /* The top lane is final; the other three lanes written here are
           cells still in flight, stored over again before the batch ends. */
        _mm256_storeu_pd(cells + bottom + avx2passes - width, rest[vectors - 1]);
#pragma GCC unroll 16
        for (int i = vectors - 1; i > 0; --i) {
            cell[i] = shiftup256(rest[i], rest[i - 1]);
        }
        cell[0] = shiftup256(rest[0], _mm256_set1_pd(cells[bottom - 1]));
    }
    /* The last steps' stores reached below cell 0, which must stay zero. */
    for (int32_t j = -(width - 1); j < 0; ++j) {
        cells[j] = 0.0;
    }
#pragma GCC unroll 16
    for (int i = 0; i < vectors; ++i) {
        _mm256_storeu_pd(carries + width * i, carry[i]);
    }
}

void divideavx2(const double* x, const double* reciprocals, double* quotients,
                       int32_t count)
{
    for (int32_t i = 0; i < count; i += width) {
        _mm256_storeu_pd(quotients + i,
                         quotient256(_mm256_loadu_pd(x + i), _mm256_loadu_pd(reciprocals + i)));
    }
}
