#pragma once

#include <cfloat>
#include <cstdint>

// Division in floats, for the variants with single-precision lanes, which
// serve only runs whose every value fits a float.
//
// Cell j has divisor d = 2j + 1 and multiplier j + 1; a pass forms there
// x = 10 * A + carry * (j + 1) with A <= 2j and a carry of at most 18, so
// x <= 38j + 18. A float holds every integer below 2^24: through cell
// lastfloatcell (38j + 18 = 16,777,208) every value, product and sum of a
// pass is an exact float, and a run of at most mostfloatcells cells
// (132,452 digits) fits whole. reciprocal is 1 / d rounded to a float.
//
// The forms, with y = fma(x, reciprocal, bias) rounded to a float:
// - biased: q = floor(y) with bias 2^-21, exact through cell lastbiascell;
//   past it y, near 19, has too few fraction bits to resolve 1 / d.
// - corrected: q0 = trunc(y) with bias -2^-18 is q or q - 1; r0 =
//   x - q0 d is an integer below 2^24, so the fused multiply-subtract
//   gives it exactly, and r0 >= d exactly when q0 = q - 1: then q = q0 + 1
//   and r = r0 - d. Exact through lastfloatcell.
//
// Why checking the ends of each quotient's run of dividends proves a form
// for a cell: y grows with x (the exact x * reciprocal + bias does, and
// rounding is monotone), so do floor and trunc, and floor(x / d) = k on
// all of [k d, k d + d - 1]. A form right at both ends of every run, for
// every k up to (38j + 18) / d, is right for every dividend in between:
// about 40 checks a cell, which the tests make over every cell each form
// serves, with each variant's own instructions.
//
// Floats must round to float: 32-bit x86 (x87) keeps the double variants.
namespace generator::floatdivide {

static_assert(FLT_RADIX == 2 && FLT_MANT_DIG == 24, "the float division needs binary32 floats");

inline constexpr float bias = 0x1p-21f;
inline constexpr float correctionbias = -0x1p-18f;
inline constexpr std::int32_t lastbiascell = 213156;
inline constexpr std::int32_t lastfloatcell = 441505;
inline constexpr std::int32_t mostfloatcells = lastfloatcell + 1;

}  // namespace generator::floatdivide
