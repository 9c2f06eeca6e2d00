#ifndef BUFFER_EXACTDIVISION_H
#define BUFFER_EXACTDIVISION_H

/* Exact integer division in doubles, by a precomputed reciprocal.

   Every value of a pass is an integer below 2^31, so a double holds it
   exactly, and so do the products and sums the kernels form from them.
   Dividing x by a cell's divisor d uses the table entry rho = fl(1/d):

       q = floor(x * rho + e),   e = 2^-30,

   or, with no floor instruction, the same floor as a round to nearest:

       q = (fl(x * rho + e - 1/2) + 1.5 * 2^52) - 1.5 * 2^52.

   Claim: for integers 0 <= x < 2^31 and 1 <= d <= 2^27 with x / d < 2^12,
   q is exactly floor(x / d), the product x * rho fused with the addition
   or not. A pass meets these bounds: divisors are odd numbers below 2^27
   (at most 2 * 56512726 - 1, for 16953818 digits), and quotients are at
   most 108 (a carry of at most 18; the bottom cell passes on at most 108).

   Proof. Write x / d = q + f with f = (x mod d) / d, so f = 0 or
   1/d <= f <= 1 - 1/d. With u = 2^-53, rho = (1 + t) / d for |t| <= u, so
   x * rho = x / d + (x / d) t and |(x / d) t| < 2^12 u = 2^-41. Adding e
   (or e - 1/2) and rounding, fused or as two roundings, each rounding of a
   value below 2^13 in magnitude is off by at most half an ulp, 2^-41. So
   the computed y is x / d + e (or + e - 1/2) plus an error |eta| < 2^-39.
   - floor: y >= q + e - |eta| > q since e = 2^-30 > 2^-39, and
     y <= q + 1 - 1/d + e + |eta| < q + 1 since 1/d >= 2^-27 > e + 2^-39.
   - round to nearest: y lies in (q - 1/2, q + 1/2) by the same two bounds,
     never on a tie. For |y| < 2^51, y + 1.5 * 2^52 lies in [2^52, 2^53),
     where doubles are the integers, so the sum is rounded to 1.5 * 2^52 +
     round(y) exactly, and subtracting 1.5 * 2^52 again is exact.
   The remainder x - q * d is then exact too: q * d <= x < 2^31.

   This needs IEEE doubles rounding to nearest: never build it with
   -ffast-math or any of its parts (reassociation would fold the second
   form away). */

#if defined(__FAST_MATH__)
#error "exact division needs IEEE arithmetic: build without -ffast-math"
#endif

#define EXACTDIVISION_BIAS 0x1p-30
#define EXACTDIVISION_ROUNDER 0x1.8p52

/* The largest divisor and quotient the claim covers. */
#define EXACTDIVISION_MAXDIVISOR (1 << 27)
#define EXACTDIVISION_MAXQUOTIENT ((1 << 12) - 1)

/* The round-to-nearest form, for code without a floor instruction. */
static inline double exactquotient(double x, double reciprocal)
{
    const double y = x * reciprocal + (EXACTDIVISION_BIAS - 0.5);
    return (y + EXACTDIVISION_ROUNDER) - EXACTDIVISION_ROUNDER;
}

#endif
