/* The AVX-512 kernel: eight passes per vector, the batch's cells and
   carries held in registers, cells moved up one lane per step.

   Built with -mavx512f for this file alone. It must not instantiate any
   inline function or template that other files also use: the linker could
   keep this file's copy and run AVX-512 code on any processor. */
#include <immintrin.h>

#include "exactdivision.h"
#include "kernels.h"

enum {
    width = 8,
    /* Enough independent vectors to cover a step's latency. */
    vectors = avx512passes / width,
};

static inline __m512d quotient512(__m512d x, __m512d reciprocal)
{
    const __m512d y = _mm512_fmadd_pd(x, reciprocal, _mm512_set1_pd(EXACTDIVISION_BIAS));
    return _mm512_roundscale_pd(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}

/* [below's top lane, upper's lanes 0..6]: every lane one place up. */
static inline __m512d shiftup512(__m512d upper, __m512d below)
{
    return _mm512_castsi512_pd(
        _mm512_alignr_epi64(_mm512_castpd_si512(upper), _mm512_castpd_si512(below), width - 1));
}

void runbatchavx512(struct spigotbatch* batch, double* carries)
{
    const int32_t cellcount = batch->cellcount;
    double* cells = batch->cells;
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d ten = _mm512_set1_pd(10.0);
    __m512d cell[vectors];
    __m512d carry[vectors];
    __m512d rest[vectors];
#pragma GCC unroll 16
    for (int i = 0; i < vectors; ++i) {
        cell[i] = _mm512_loadu_pd(cells + cellcount - 1 + width * i);
        carry[i] = _mm512_setzero_pd();
    }
    const int32_t steps = cellcount + avx512passes - 1;
    for (int32_t step = 0; step < steps; ++step) {
        /* Lane k of vector i is pass width * i + k, on cell bottom + that. */
        const int32_t bottom = cellcount - 1 - step;
#pragma GCC unroll 16
        for (int i = 0; i < vectors; ++i) {
            const __m512d index = _mm512_loadu_pd(batch->indices + bottom + width * i);
            const __m512d reciprocal = _mm512_loadu_pd(batch->reciprocals + bottom + width * i);
            const __m512d multiplier = _mm512_add_pd(index, one);
            const __m512d divisor = _mm512_add_pd(index, multiplier);
            const __m512d x = _mm512_fmadd_pd(cell[i], ten, _mm512_mul_pd(carry[i], multiplier));
            const __m512d q = quotient512(x, reciprocal);
            rest[i] = _mm512_fnmadd_pd(q, divisor, x);
            carry[i] = q;
        }
        /* The top lane is final; the other seven lanes written here are
           cells still in flight, stored over again before the batch ends. */
        _mm512_storeu_pd(cells + bottom + avx512passes - width, rest[vectors - 1]);
#pragma GCC unroll 16
        for (int i = vectors - 1; i > 0; --i) {
            cell[i] = shiftup512(rest[i], rest[i - 1]);
        }
        cell[0] = shiftup512(rest[0], _mm512_set1_pd(cells[bottom - 1]));
    }
    /* The last steps' stores reached below cell 0, which must stay zero. */
    for (int32_t j = -(width - 1); j < 0; ++j) {
        cells[j] = 0.0;
    }
#pragma GCC unroll 16
    for (int i = 0; i < vectors; ++i) {
        _mm512_storeu_pd(carries + width * i, carry[i]);
    }
}

void divideavx512(const double* x, const double* reciprocals, double* quotients,
                         int32_t count)
{
    for (int32_t i = 0; i < count; i += width) {
        _mm512_storeu_pd(quotients + i,
                         quotient512(_mm512_loadu_pd(x + i), _mm512_loadu_pd(reciprocals + i)));
    }
}
