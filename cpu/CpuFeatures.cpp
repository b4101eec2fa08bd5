// Processor features: CPUID leaf 1 (EDX bit 26 SSE2; ECX bit 27 OSXSAVE, bit
// 28 AVX), leaf 7 subleaf 0 (EBX bit 5 AVX2; bits 16, 30 and 31 AVX-512 F,
// BW and VL) and XCR0 (bit 1 SSE state, bit 2 AVX state, bits 5-7 opmask and
// 512-bit states), read in the manner of libdeflate's x86 probe.
#include "cpu/CpuFeatures.h"

#include <atomic>

#if VT_HAVE_SSE2
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace vt {
namespace cpu {

namespace {

#if VT_HAVE_SSE2
struct Registers {
    unsigned eax, ebx, ecx, edx;
};

bool CpuId(unsigned leaf, Registers& r) {
#if defined(_MSC_VER)
    int max[4], out[4];
    __cpuid(max, static_cast<int>(leaf & 0x80000000u));
    if (static_cast<unsigned>(max[0]) < leaf) return false;
    __cpuidex(out, static_cast<int>(leaf), 0);
    r = {static_cast<unsigned>(out[0]), static_cast<unsigned>(out[1]), static_cast<unsigned>(out[2]),
         static_cast<unsigned>(out[3])};
    return true;
#else
    // GCC declares the highest leaf unsigned, clang int: compare it as unsigned.
    if (static_cast<unsigned>(__get_cpuid_max(leaf & 0x80000000u, nullptr)) < leaf) return false;
    __cpuid_count(leaf, 0, r.eax, r.ebx, r.ecx, r.edx);
    return true;
#endif
}

// XCR0: which register states the operating system saves on a switch.
// Only read when CPUID reports OSXSAVE, without which XGETBV faults.
std::uint64_t ReadXcr0() {
#if defined(_MSC_VER)
    return _xgetbv(0);
#else
    unsigned low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<std::uint64_t>(high) << 32) | low;
#endif
}
#endif

// Probed at load; the mask starts unrestricted. Both only ever hold whole
// values, so relaxed atomics make every read race-free at no cost.
std::atomic<std::uint32_t> g_probed{ProbeCpuFeatures()};
std::atomic<std::uint32_t> g_mask{~0u};

}  // namespace

std::uint32_t ProbeCpuFeatures() {
    std::uint32_t features = kCpuFeaturesKnown;
#if VT_HAVE_SSE2
    Registers leaf1{};
    if (!CpuId(1, leaf1)) return features;
    if (leaf1.edx & (1u << 26)) features |= kCpuSse2;
    const bool osxsave = (leaf1.ecx & (1u << 27)) != 0;
    const bool avx = (leaf1.ecx & (1u << 28)) != 0;
    if (!osxsave || !avx) return features;
    const std::uint64_t xcr0 = ReadXcr0();
    Registers leaf7{};
    if ((xcr0 & 0x6) != 0x6 || !CpuId(7, leaf7) || (leaf7.ebx & (1u << 5)) == 0) return features;
    features |= kCpuAvx2;
    const unsigned avx512 = (1u << 16) | (1u << 30) | (1u << 31);
    if ((xcr0 & 0xE6) == 0xE6 && (leaf7.ebx & avx512) == avx512) features |= kCpuAvx512;
#endif
    return features;
}

std::uint32_t CpuFeatures() {
    std::uint32_t probed = g_probed.load(std::memory_order_relaxed);
    if (probed == 0) {  // called before this file's initialiser ran
        probed = ProbeCpuFeatures();
        g_probed.store(probed, std::memory_order_relaxed);
    }
    return probed & (g_mask.load(std::memory_order_relaxed) | kCpuFeaturesKnown);
}

void SetCpuFeatureMask(std::uint32_t mask) { g_mask.store(mask, std::memory_order_relaxed); }

std::uint32_t CpuFeatureMask() { return g_mask.load(std::memory_order_relaxed); }

}  // namespace cpu
}  // namespace vt
