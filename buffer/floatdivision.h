#ifndef BUFFER_FLOATDIVISION_H
#define BUFFER_FLOATDIVISION_H

/* Exact integer division in floats, for the cells whose every value fits
   one: the forms a kernel with single-precision lanes may use.

   Cell j (0-based) has divisor d = 2j + 1, and every value a pass forms
   there is an integer of at most x_max = 38j + 18 (10 * A with A <= 2j,
   plus a carry of at most 18 times the multiplier j + 1). A float holds
   every integer below 2^24, so up to cell FLOATDIVISION_LASTCELL, where
   38j + 18 = 16,777,208, every value, product and sum of a pass is exact
   in floats. reciprocal is 1 / d rounded to a float.

   Why checking the boundaries suffices. For a fixed cell, each form's
   first step, y = fma(x, reciprocal, bias), is monotone in x: the exact
   x * reciprocal + bias grows with x and rounding to a float is monotone;
   so are floor and truncation. floor(x / d) = k is constant on
   [k d, k d + d - 1]. So a form that gives k at both ends of every such
   step, for every k up to x_max / d, gives it for every x in between: about
   40 checks a cell, which the tests make for every cell each form serves.

   - floatquotientbiased: floor(fma(x, reciprocal, 2^-21)). Exact for every
     cell up to FLOATDIVISION_LASTBIASCELL (N <= 63,947 entirely); past it
     the float y near 19 has too few fraction bits to resolve 1 / d.
   - floatquotientcorrected: q0 = trunc(fma(x, reciprocal, -2^-18)) is q or
     q - 1 at every boundary, hence (monotone) for every x; r0 = x - q0 d is
     an integer below 2^24, so the fused fma(-q0, d, x) is exact, and
     r0 >= d exactly when q0 = q - 1. Exact for every cell up to
     FLOATDIVISION_LASTCELL (N <= 132,452 entirely).

   This needs floats that round to float (FLT_EVAL_METHOD 0 or 1 for the
   kernels; fmaf itself is correctly rounded everywhere) and no
   -ffast-math. */

#include <float.h>
#include <math.h>

#if defined(__FAST_MATH__)
#error "exact division needs IEEE arithmetic: build without -ffast-math"
#endif
#if FLT_RADIX != 2 || FLT_MANT_DIG != 24
#error "float division needs binary32 floats"
#endif

#define FLOATDIVISION_BIAS 0x1p-21f
#define FLOATDIVISION_CORRECTIONBIAS (-0x1p-18f)

/* The last cell each form is exact for. */
#define FLOATDIVISION_LASTBIASCELL 213156
#define FLOATDIVISION_LASTCELL 441505

static inline float floatquotientbiased(float x, float reciprocal)
{
    return floorf(fmaf(x, reciprocal, FLOATDIVISION_BIAS));
}

static inline float floatquotientcorrected(float x, float reciprocal, float divisor)
{
    const float q0 = truncf(fmaf(x, reciprocal, FLOATDIVISION_CORRECTIONBIAS));
    const float r0 = fmaf(-q0, divisor, x);
    return r0 >= divisor ? q0 + 1.0f : q0;
}

#endif
