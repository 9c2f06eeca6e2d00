#pragma once

#include <cstdlib>
#include <string>

namespace testsupport {

// The widest vector variant this processor can run, told by its features
// alone ("avx512", "avx2" with FMA, "neon" on every arm64, or "portable"),
// for checking a dispatch against something other than its own table.
inline std::string widestvectors()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (__builtin_cpu_supports("avx512f")) {
        return "avx512";
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return "avx2";
    }
#endif
#if defined(__aarch64__)
    return "neon";
#else
    return "portable";
#endif
}

// Where a test runs under an emulator for a processor model, the name of
// the widest vectors that model has, as the emulating script knows it;
// empty elsewhere.
inline std::string emulatedwidestvectors()
{
    const char* expected = std::getenv("PI_EXPECT_WIDEST_VECTORS");
    return expected != nullptr ? expected : "";
}

// Where a test runs under an emulator for a processor model, the kernel
// (or variant) the model's vendor and family should run, as the emulating
// script knows it; empty elsewhere.
inline std::string emulatedkernel()
{
    const char* expected = std::getenv("PI_EXPECT_KERNEL");
    return expected != nullptr ? expected : "";
}

}  // namespace testsupport
