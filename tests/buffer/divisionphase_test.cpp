// Which division each chunk of a float batch makes: the batch template run
// over lanes that watch every division (divisionprobe.h). The bias form is
// wrong for a few dividends just past its last cell, too few for any text
// or batch comparison to meet, so the choice itself is checked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "divisionprobe.h"
#include "floatdivision.h"
#include "kernels/rotatedbatch.h"
#include "randomcells.h"
#include "spigotbatch.h"
#include "sweep.h"

namespace {

testsupport::divisionprobe* probe = nullptr;

typedef float probedvector __attribute__((vector_size(16)));

// Four float lanes in plain C++, each division reported to the probe.
struct probedlanes {
    typedef probedvector vector;
    typedef float scalar;
    enum { width = 4 };
    static vector load(const float* p)
    {
        vector v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(float* p, vector v) { std::memcpy(p, &v, sizeof v); }
    static vector broadcast(float value) { return vector{} + value; }
    static vector add(vector a, vector b) { return a + b; }
    static vector mul(vector a, vector b) { return a * b; }
    static vector max(vector a, vector b)
    {
        for (int l = 0; l < width; ++l) {
            a[l] = std::fmax(a[l], b[l]);
        }
        return a;
    }
    static vector fmadd(vector a, vector b, vector c)
    {
        for (int l = 0; l < width; ++l) {
            c[l] = std::fma(a[l], b[l], c[l]);
        }
        return c;
    }
    static vector fnmadd(vector a, vector b, vector c)
    {
        for (int l = 0; l < width; ++l) {
            c[l] = std::fma(-a[l], b[l], c[l]);
        }
        return c;
    }
    static vector quotient(vector x, vector reciprocal)
    {
        float xs[width], reciprocals[width];
        store(xs, x);
        store(reciprocals, reciprocal);
        probe->biased(xs, reciprocals, width);
        for (int l = 0; l < width; ++l) {
            x[l] = floatquotientbiased(x[l], reciprocal[l]);
        }
        return x;
    }
    static void correcteddivide(vector x, vector reciprocal, vector divisor, vector& q, vector& r)
    {
        float divisors[width];
        store(divisors, divisor);
        probe->corrected(divisors, width);
        for (int l = 0; l < width; ++l) {
            q[l] = floatquotientcorrected(x[l], reciprocal[l], divisor[l]);
            r[l] = std::fma(-q[l], divisor[l], x[l]);
        }
    }
    static vector rotateup(vector v, const float* entering) { return vector{*entering, v[0], v[1], v[2]}; }
    static void storetop(float* p, vector v) { *p = v[width - 1]; }
};

constexpr int probedvectors = 4;
constexpr int probedpasses = probedvectors * probedlanes::width;

}  // namespace

TEST(floatbatch, CorrectsTheDivisionInEveryChunkWithAPassPastTheBiasFormsLastCell)
{
    // Past the last bias cell by one cell and by a few chunks, and short
    // of it by a few cells, where the first chunks, at the top, reach past
    // it; the cells drawn at random, so that no lane divides a zero.
    std::vector<std::int32_t> cellcounts = {FLOATDIVISION_LASTBIASCELL + 2,
                                            FLOATDIVISION_LASTBIASCELL + 3 * probedpasses + 5,
                                            FLOATDIVISION_LASTBIASCELL - 5};
    cellcounts.resize(testsupport::emulated() ? 1 : cellcounts.size());
    for (const std::int32_t cellcount : cellcounts) {
        SCOPED_TRACE(std::to_string(cellcount) + " cells");
        testsupport::divisionprobe watched{FLOATDIVISION_LASTBIASCELL, probedvectors};
        probe = &watched;
        spigotbatch batch;
        ASSERT_TRUE(openbatch(&batch, cellcount, floatcells));
        const std::vector<std::int32_t> start = testsupport::randomcells(cellcount, 7);
        std::vector<std::int64_t> plaincells(start.begin(), start.end());
        for (std::int32_t j = 0; j < cellcount; ++j) {
            batch.floatcells[j] = static_cast<float>(start[j]);
        }
        double carries[BATCH_PADDING];
        runrotatedbatch<probedlanes, probedvectors>(&batch, carries);

        EXPECT_EQ(watched.biasedpastedge, 0) << "lanes past the last bias cell divided in the bias form";
        EXPECT_GT(watched.correcteddivisions, 0);
        EXPECT_EQ(watched.correctedtoolow, 0) << "chunks with no pass past the last bias cell corrected";

        // The probed lanes make a sound batch: what plain passes leave.
        const std::vector<std::int64_t> plaincarries = testsupport::plainpasses(plaincells, probedpasses);
        for (int p = 0; p < probedpasses; ++p) {
            ASSERT_EQ(carries[p], static_cast<double>(plaincarries[p])) << "pass " << p;
        }
        for (std::int32_t j = 0; j < cellcount; ++j) {
            ASSERT_EQ(batch.floatcells[j], static_cast<float>(plaincells[j])) << "cell " << j;
        }
        closebatch(&batch);
        probe = nullptr;
    }
}
