#pragma once

#include <cstdint>

// The generator's vector variants, each in a file of its own built for its
// instruction set (the x86 ones are chosen at run time, passbatch.cpp; NEON
// is on every arm64 processor). Each runs a whole batch of batchpasses
// passes over the cells in rotated lanes (rotatedpasses.h), pass p's carry
// out of cell 0 going to carries[p], and has its division on its own, for
// tests: quotients[i] = floor(x[i] / d) given reciprocals[i] = 1 / d.
// The float ones serve runs whose every value fits a float (floatdivide.h).
#include "passbatch.h"

namespace generator::variants {

void runavx2(double* cells, const double* reciprocals, std::int32_t cellcount, double* carries);
void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count);

void runavx2float(float* cells, const float* reciprocals, std::int32_t cellcount, double* carries);
void divideavx2float(const floatdivisions& divisions, bool corrected);

void runavx512(double* cells, const double* reciprocals, std::int32_t cellcount, double* carries);
void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count);

void runavx512float(float* cells, const float* reciprocals, std::int32_t cellcount, double* carries);
void divideavx512float(const floatdivisions& divisions, bool corrected);

void runneon(double* cells, const double* reciprocals, std::int32_t cellcount, double* carries);
void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count);
void runneonfloat(float* cells, const float* reciprocals, std::int32_t cellcount, double* carries);
void divideneonfloat(const floatdivisions& divisions, bool corrected);

}  // namespace generator::variants
