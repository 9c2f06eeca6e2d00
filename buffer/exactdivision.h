#ifndef BUFFER_EXACTDIVISION_H
#define BUFFER_EXACTDIVISION_H

/* Exact integer division in doubles by a reciprocal, for passes fused k
   at a time.

   k passes over a cell are one pass by 10^k: the cell afterwards is the
   one the k passes leave, and the carry it hands down is theirs combined,
   sum of c_i 10^(k - i). Each c_i is at most 18, so a fused quotient is
   at most Q = 2 (10^k - 1), and at cell j (divisor 2j + 1, multiplier
   j + 1, remainder at most 2j) a pass forms x < 4 10^k (j + 1), which
   must stay below 2^53 for doubles to hold every value exactly.

   The quotient of x by d, given rho = 1/d rounded, is q = floor(y) for
   y = x rho + e with a bias e > 0 that depends on k. Write x = q d + r,
   0 <= r < d, and rho = (1 + t)/d. Three forms, each with its claim:

   Fused (one rounding: y = RN(x rho + e), an FMA instruction). rho is
   1/d rounded to nearest once, so |t| < u = 2^-53 for every d that is
   not a power of two (t = 0 for those). Let 2^E <= Q < 2^(E + 1).
   - y >= q: at r = 0, x rho + e = q + q t + e. If it is at least q,
     rounding keeps it so. Otherwise it is below q by less than q u - e,
     and rounds up to q when that is below half the gap under q: 2^(n-53)
     for 2^n < q < 2^(n+1), 2^(n-54) for q = 2^n. Over every q <= Q the
     largest need is e >= max(Q u - 2^(E-53), 2^(E-54)).
   - y < q + 1: at r = d - 1, x rho + e = (q + 1) + (q + 1) t + e - rho;
     it rounds below q + 1 when (q + 1) t + e + h < rho, with h half the
     gap under q + 1, at most 2^(E-53). (Q + 1) u + e + 2^(E-53) <= (1 -
     u)/d is enough, as rho > (1 - u)/d.
   Both sides are monotone in r, so every x in between gives q.

   Two roundings (RN(RN(x rho) + e), or any mix of double and x87
   extended roundings, fused or not; the portable code, and 32-bit x86
   whose x87 unit evaluates in its wider format). rho itself may have been
   rounded through the wider format: |t| < 2^-53 (1 + 2^-10). Every value
   formed lies below 2^B, the power of two above Q + 1, so each rounding
   errs by less than 2^(B-54) (1 + 2^-10). Then y = x/d + e + eta with
   |eta| <= eta_max = (Q + 1) 2^-53 (1 + 2^-10) + 2^(B-53) (1 + 2^-10).
   - y >= q when e >= eta_max;
   - y <= q + 1 - 1/d + e + eta_max < q + 1 when 1/d > e + eta_max.
   Converting y to an integer truncates it exactly, in whatever format y
   is held. Where doubles round to double, y - 1/2 + 1.5 2^52 rounded to
   double is 1.5 2^52 + q exactly (y - 1/2 lies in (q - 1/2, q + 1/2)
   and below 2^51), which is faster where a vector floor is missing.

   fusedbias() and fusedlargestdivisor() below compute the bias (the
   smallest power of two the claim allows) and the largest divisor from
   these inequalities, in integers counting 2^-64. For the record (fused
   form / two roundings; the form rounded down is above):

     k   bias            largest divisor           counts served, to
     7   2^-30 / 2^-27   199,425,110 / 74,615,042  every count / 11,192,256
     8   2^-27 / 2^-24    22,443,564 / 8,955,580     3,366,534 / 1,343,337
     9   2^-23 / 2^-21     2,171,726 / 1,066,382       325,759 / 159,957
     10  2^-20 / 2^-17       196,793 / 73,150           29,519 / 10,972

   and below 7 the two-rounding form serves every count with 6.

   Rounded down (AVX-512, whose instructions may round each their own
   way): rho = 1/d rounded up, so 0 <= t < 2^-52, and no bias. Then
   x rho >= x/d >= q, and at r = d - 1, x rho = (q + 1 - 1/d)(1 + t) <=
   q + 1 - 1/d + t (q + 1) < q + 1 when d (Q + 1) <= 2^52. So floor(x rho)
   = q, and an FMA that forms x rho + 1.5 2^52 exactly and rounds it down
   once gives 1.5 2^52 + q: in [2^52, 2^53) doubles are the integers, and
   x rho < 2^51. Subtracting 1.5 2^52 is exact. The largest divisor is
   2^52 / (Q + 1); that serves k = 10 to 33,777 digits, 9 to 337,770, 8 to
   3,377,699 and 7 every count, with one rounding fewer than the floor of
   the fused form.

   Where instructions have no rounding of their own (AVX2), the same form
   runs with the processor's rounding mode set to round toward minus
   infinity for a batch, and restored after it. Every other operation of
   the update works on integers below 2^53 (the remainder x - q d, the
   products and sums that make the next x, the numbers' adds, min and max)
   and is exact in any mode; the subtraction of 1.5 2^52 is exact too. The
   vector division 1/d then rounds down; for an odd d > 1, 1/d is not a
   double (its denominator is no power of two), so 1/d rounded up is the
   next double above it: one more in the bits of a positive double. For
   d = 1 the division is exact, and 1 is the reciprocal.

   At cell 0 (divisor 1, reciprocal 1, below it too) y = x + e rounds to x
   for any x below 2^53, as e < 1/2, and x + 1.5 2^52 is exact.

   This needs binary doubles of 53 bits or more in round-to-nearest, and
   never -ffast-math or any of its parts (reassociation would fold the
   rounding form away); a build that breaks these does not compile. */

#include <float.h>
#include <stdint.h>

#if defined(__FAST_MATH__)
#error "exact division needs IEEE arithmetic: build without -ffast-math"
#endif
#if FLT_RADIX != 2 || DBL_MANT_DIG < 53
#error "exact division needs binary doubles with at least 53 significand bits"
#endif

/* How a kernel divides: one rounding (FMA), two (any other way), or one
   rounding down with the reciprocal rounded up (by the instruction, or by
   the rounding mode). */
enum divisionform { division_fused = 0, division_tworoundings = 1, division_rounddown = 2 };

/* The most passes fused into one: more would serve only counts that take
   milliseconds. */
#define FUSED_MOSTPASSES 10

#define EXACTDIVISION_ROUNDER 0x1.8p52

#if defined(FLT_EVAL_METHOD) && (FLT_EVAL_METHOD == 0 || FLT_EVAL_METHOD == 1)
#define EXACTDIVISION_ROUNDS_TO_NEAREST 1
#else
#define EXACTDIVISION_ROUNDS_TO_NEAREST 0
#endif

static constexpr int64_t tenpower(int32_t k)
{
    int64_t power = 1;
    for (int32_t i = 0; i < k; ++i) {
        power *= 10;
    }
    return power;
}

/* The claim's terms, in units of 2^-64. */
static constexpr int bitlength(uint64_t value)
{
    int bits = 0;
    for (; value != 0; value >>= 1) {
        ++bits;
    }
    return bits;
}

static constexpr uint64_t powerof2atleast(uint64_t value)
{
    uint64_t power = 1;
    while (power < value) {
        power *= 2;
    }
    return power;
}

/* The bias, and what it leaves for 1/d to exceed (the right-hand sums of
   the claim), in units of 2^-64. */
struct fusedclaimterms {
    uint64_t bias;
    uint64_t below;
};

static constexpr struct fusedclaimterms fusedclaim(enum divisionform form, int32_t k)
{
    const uint64_t largestquotient = 2 * ((uint64_t)tenpower(k) - 1);
    const uint64_t u = (uint64_t)1 << 11; /* 2^-53 */
    struct fusedclaimterms terms = {0, 0};
    if (form == division_rounddown) {
        return terms; /* no bias: fusedlargestdivisor() has its bound */
    }
    if (form == division_fused) {
        const int e = bitlength(largestquotient) - 1; /* 2^E <= Q < 2^(E+1) */
        const uint64_t halfgap = (uint64_t)1 << (e + 11); /* 2^(E-53) */
        const uint64_t lower = largestquotient * u > halfgap ? largestquotient * u - halfgap : 0;
        const uint64_t atpower = halfgap / 2;
        terms.bias = powerof2atleast(lower > atpower ? lower : atpower);
        terms.below = (largestquotient + 1) * u + terms.bias + halfgap;
    } else {
        const int b = bitlength(largestquotient + 1); /* Q + 1 < 2^B */
        const uint64_t reciprocalerror = (largestquotient + 1) * (u + u / 1024);
        const uint64_t roundings = ((uint64_t)1 << (b + 11)) + ((uint64_t)1 << (b + 1));
        const uint64_t eta = reciprocalerror + roundings;
        /* Strictly above eta_max, so that the rounding form never meets a tie. */
        terms.bias = powerof2atleast(eta + 1);
        terms.below = terms.bias + eta;
    }
    return terms;
}

/* The bias for passes of up to k in the given form, as a double. */
static constexpr double fusedbias(enum divisionform form, int32_t k)
{
    return (double)fusedclaim(form, k).bias * 0x1p-64;
}

/* The largest divisor the claim covers for passes of up to k. */
static constexpr int64_t fusedlargestdivisor(enum divisionform form, int32_t k)
{
    /* Fused: d <= (1 - u) / below; two roundings: d * below < 1; rounded
       down: d * below <= 1. */
    if (form == division_rounddown) {
        return (int64_t)(((uint64_t)1 << 52) / ((uint64_t)2 * ((uint64_t)tenpower(k) - 1) + 1));
    }
    const uint64_t one = form == division_fused ? ~(uint64_t)0 - ((uint64_t)1 << 11) + 1 : ~(uint64_t)0;
    return (int64_t)(one / fusedclaim(form, k).below);
}

/* The most passes a run of cellcount cells may fuse in the given form:
   its largest divisor 2 cellcount - 1 within the claim, and every value
   4 10^k cellcount within 2^53. */
static constexpr int32_t fusedpassesfor(enum divisionform form, int32_t cellcount)
{
    int32_t k = FUSED_MOSTPASSES;
    while (k > 1 && (2 * (int64_t)cellcount - 1 > fusedlargestdivisor(form, k) ||
                     4 * tenpower(k) * cellcount > ((int64_t)1 << 53))) {
        --k;
    }
    return k;
}

/* floor(x / d) given reciprocal = 1 / d, in the form with two roundings,
   for code without a vector floor instruction; how it rounds depends on
   how this build evaluates doubles. */
static inline double exactquotient(double x, double reciprocal, double bias)
{
#if EXACTDIVISION_ROUNDS_TO_NEAREST
    const double y = x * reciprocal + (bias - 0.5);
    return (y + EXACTDIVISION_ROUNDER) - EXACTDIVISION_ROUNDER;
#else
    return (double)(int64_t)(x * reciprocal + bias);
#endif
}

#endif
