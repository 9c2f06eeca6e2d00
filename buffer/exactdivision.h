#ifndef BUFFER_EXACTDIVISION_H
#define BUFFER_EXACTDIVISION_H

/* Exact integer division in doubles, by a precomputed reciprocal.

   Every value of a pass is an integer below 2^31, so a double holds it
   exactly, and so do the products and sums the kernels form from them.
   Dividing x by a cell's divisor d uses the table entry rho = 1/d rounded
   to a double:

       q = floor(x * rho + e),   e = 2^-30,

   taken either as a truncating conversion to a 32-bit integer (the value
   is positive, so truncation is the floor) or, where every operation on
   doubles rounds to double, as a round to nearest:

       q = (fl(x * rho + e - 1/2) + 1.5 * 2^52) - 1.5 * 2^52.

   Claim: for integers 0 <= x < 2^31 and 1 <= d <= 2^27 with x / d < 2^12,
   q is exactly floor(x / d), the product x * rho fused with the addition
   or not. A pass meets these bounds: divisors are odd numbers below 2^27
   (at most 2 * 56512726 - 1, for 16953818 digits), and quotients are at
   most 108 (a carry of at most 18; the bottom cell passes on at most 108).

   Proof. Write x / d = q + f with f = (x mod d) / d, so f = 0 or
   1/d <= f <= 1 - 1/d. rho may have been rounded through a wider format
   first (x87 does that), so rho = (1 + t) / d with |t| < 2^-52, and
   x * rho = x / d + (x / d) t with |(x / d) t| < 2^12 * 2^-52 = 2^-40.
   Adding e (or e - 1/2), the product and the sum are each rounded, fused
   or not, to double, to a wider format, or to a wider one and then to
   double; each of these roundings of a value below 2^13 in magnitude is
   off by less than 2^-39. So the computed y is x / d + e (or + e - 1/2)
   plus an error |eta| < 2^-37.
   - floor: y >= q + e - |eta| > q since e = 2^-30 > 2^-37, and
     y <= q + 1 - 1/d + e + |eta| < q + 1 since 1/d >= 2^-27 > e + 2^-37.
     Converting to an integer truncates y exactly, in whatever format y
     is held.
   - round to nearest: y lies in (q - 1/2, q + 1/2) by the same two bounds,
     never on a tie. If y is a double and |y| < 2^51, y + 1.5 * 2^52 lies
     in [2^52, 2^53), where doubles are the integers, so rounding the sum
     to double gives 1.5 * 2^52 + round(y) exactly, and subtracting 1.5 *
     2^52 again is exact. This needs the sum rounded to a double, not to a
     wider format that keeps y's fraction bits.
   The remainder x - q * d is then exact too: q * d <= x < 2^31.

   Evaluation. The floor form is exact under every evaluation method
   (FLT_EVAL_METHOD 0, 1, 2 or indeterminate). The round-to-nearest form
   is a little faster where a vector floor is missing (baseline x86-64 has
   only SSE2), but is exact only where double operations round to double:
   FLT_EVAL_METHOD 0 or 1. exactquotient() picks its form at compile time
   from FLT_EVAL_METHOD, so an x87 build (FLT_EVAL_METHOD 2, where g++
   offers no way to make C++ round each operation) gets the floor form.

   This needs binary doubles of 53 bits or more in round-to-nearest, and
   never -ffast-math or any of its parts (reassociation would fold the
   second form away); a build that breaks these does not compile. */

#include <float.h>
#include <stdint.h>

#if defined(__FAST_MATH__)
#error "exact division needs IEEE arithmetic: build without -ffast-math"
#endif
#if FLT_RADIX != 2 || DBL_MANT_DIG < 53
#error "exact division needs binary doubles with at least 53 significand bits"
#endif

#define EXACTDIVISION_BIAS 0x1p-30
#define EXACTDIVISION_ROUNDER 0x1.8p52

/* The largest divisor and quotient the claim covers. */
#define EXACTDIVISION_MAXDIVISOR (1 << 27)
#define EXACTDIVISION_MAXQUOTIENT ((1 << 12) - 1)

#if defined(FLT_EVAL_METHOD) && (FLT_EVAL_METHOD == 0 || FLT_EVAL_METHOD == 1)
#define EXACTDIVISION_ROUNDS_TO_NEAREST 1
#else
#define EXACTDIVISION_ROUNDS_TO_NEAREST 0
#endif

/* floor(x / d) given reciprocal = 1 / d, for code without a vector floor
   instruction; the form depends on how this build evaluates doubles. */
static inline double exactquotient(double x, double reciprocal)
{
#if EXACTDIVISION_ROUNDS_TO_NEAREST
    const double y = x * reciprocal + (EXACTDIVISION_BIAS - 0.5);
    return (y + EXACTDIVISION_ROUNDER) - EXACTDIVISION_ROUNDER;
#else
    return (double)(int32_t)(x * reciprocal + EXACTDIVISION_BIAS);
#endif
}

#endif
