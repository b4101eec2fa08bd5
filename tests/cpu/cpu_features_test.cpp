// The processor-feature probe and the test mask. The SIMD forms give the
// same bytes as the portable ones, so no decode can tell whether they ran:
// a probe that missed a feature would leave them unused without any other
// test noticing. GCC's own probe (__builtin_cpu_supports, which also asks
// the operating system about the AVX state) is the independent reference.
#include <gtest/gtest.h>

#include "cpu/CpuFeatures.h"
#include "dxt/DxtEncoder.h"
#include "support/CpuForms.h"

namespace {

using namespace vt::cpu;

TEST(CpuFeatures, ProbeAgreesWithTheCompilersOwnProbe) {
#if VT_HAVE_SSE2 && defined(__GNUC__)
    __builtin_cpu_init();
    const std::uint32_t probed = ProbeCpuFeatures();
    EXPECT_TRUE(probed & kCpuFeaturesKnown);
    EXPECT_EQ((probed & kCpuSse2) != 0, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ((probed & kCpuAvx2) != 0, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ((probed & kCpuAvx512) != 0, __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                              __builtin_cpu_supports("avx512vl"));
    EXPECT_EQ(CpuFeatures(), probed);
#else
    GTEST_SKIP() << "no SIMD forms in this build";
#endif
}

// The mask takes features away and never adds one; the MMX availability
// flag the DXT encoder reads follows it, so masking SSE2 runs the portable
// form. Every name in the table is a distinct single bit.
TEST(CpuFeatures, MaskOnlyTakesAwayAndTheMmxFlagFollowsIt) {
    const std::uint32_t probed = ProbeCpuFeatures();
    {
        vt::test::ScopedCpuFeatures none(0u);
        EXPECT_EQ(CpuFeatures(), kCpuFeaturesKnown);
        EXPECT_EQ(vt::dxt::MmxAvailable(), 0);
    }
    {
        vt::test::ScopedCpuFeatures unknownBit(1u << 7);
        EXPECT_EQ(CpuFeatures(), probed & kCpuFeaturesKnown);
    }
    EXPECT_EQ(CpuFeatures(), probed);
    EXPECT_EQ(vt::dxt::MmxAvailable(), vt::dxt::DetectMmx());
    EXPECT_EQ(vt::dxt::DetectMmx(), (probed & kCpuSse2) ? 1 : 0);
    std::uint32_t seen = 0;
    for (const CpuFeatureName& n : kCpuFeatureNames) {
        EXPECT_EQ(n.bit & (n.bit - 1), 0u) << n.name;
        EXPECT_EQ(seen & n.bit, 0u) << n.name;
        seen |= n.bit;
    }
}

}  // namespace
