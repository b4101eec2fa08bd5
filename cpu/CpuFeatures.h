// Processor features: the one place the library asks the processor what it
// can run. The SIMD forms of the compact JPEG decoder, of the DXT encoder and
// of the elevation lookup are chosen from this mask, once per call.
//
// The mask is probed once at load (and by the first caller, should one run
// before that). kCpuFeaturesKnown marks a probed mask, so that 0 means "not
// probed yet". AVX2 is reported only when the operating system also saves
// the 256-bit register state (XCR0 bits 1 and 2): otherwise the instructions
// would fault although the processor has them; likewise AVX-512 (the
// foundation with its byte-and-word and vector-length extensions) only with
// the opmask and 512-bit states saved too (XCR0 bits 5 to 7).
//
// Test and fuzz builds restrict the mask with SetCpuFeatureMask to run every
// form on one machine; the mask can only take features away, never add one
// the processor lacks. Hosts never call it (it is not exported).
#ifndef VELTRANE_CPU_FEATURES_H
#define VELTRANE_CPU_FEATURES_H

#include <cstdint>

// Which SIMD forms this build carries: on x86 (32 and 64 bit) SSE2, AVX2 and
// AVX-512 forms, each in files of their own built with that instruction set
// (cmake/Isa.cmake) and run only where the mask has it; elsewhere, or with
// VT_PORTABLE_ONLY defined (to check that configuration on x86), the
// portable forms alone.
#if !defined(VT_PORTABLE_ONLY) && (defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86))
#define VT_HAVE_SSE2 1
#define VT_HAVE_AVX2 1
#define VT_HAVE_AVX512 1
#else
#define VT_HAVE_SSE2 0
#define VT_HAVE_AVX2 0
#define VT_HAVE_AVX512 0
#endif

namespace vt {
namespace cpu {

enum CpuFeature : std::uint32_t {
    kCpuSse2 = 1u << 0,
    kCpuAvx2 = 1u << 1,
    // AVX-512 F, BW and VL; reported only together with AVX2.
    kCpuAvx512 = 1u << 2,
    kCpuFeaturesKnown = 1u << 31,
};

// The named bits, for messages and test names.
struct CpuFeatureName {
    std::uint32_t bit;
    const char* name;
};
inline constexpr CpuFeatureName kCpuFeatureNames[] = {{kCpuSse2, "sse2"}, {kCpuAvx2, "avx2"}, {kCpuAvx512, "avx512"}};

// Asks the processor (CPUID, and XCR0 through XGETBV): its features, with
// kCpuFeaturesKnown set.
std::uint32_t ProbeCpuFeatures();

// The features the library may use: the probed ones within the mask.
std::uint32_t CpuFeatures();
inline bool HasCpuFeature(std::uint32_t feature) { return (CpuFeatures() & feature) == feature; }

// Tests, fuzz targets and benchmarks only: restricts CpuFeatures() to `mask`
// (all ones: no restriction), and reads the restriction back.
void SetCpuFeatureMask(std::uint32_t mask);
std::uint32_t CpuFeatureMask();

}  // namespace cpu
}  // namespace vt

#endif  // VELTRANE_CPU_FEATURES_H
