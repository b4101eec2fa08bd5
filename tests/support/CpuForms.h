// The processor-feature override as every SIMD test uses it: a form is
// chosen by masking the features the library may use (cpu/CpuFeatures.h),
// so that the library's own dispatch picks it.
#ifndef VT_TESTS_SUPPORT_CPU_FORMS_H
#define VT_TESTS_SUPPORT_CPU_FORMS_H

#include <cstdint>
#include <string>

#include "cpu/CpuFeatures.h"

namespace vt {
namespace test {

// A form and the features that select it. The SIMD forms of the DXT encoder
// need SSE2 (the MMX availability flag); its AVX2 variant and the AVX2 forms
// of the JPEG decoder need AVX2 besides.
struct CpuForm {
    const char* name;
    std::uint32_t features;
};
inline constexpr CpuForm kPortableForm{"portable", 0};
inline constexpr CpuForm kSse2Form{"sse2", cpu::kCpuSse2};
inline constexpr CpuForm kAvx2Form{"avx2", cpu::kCpuSse2 | cpu::kCpuAvx2};
inline constexpr CpuForm kAvx512Form{"avx512", cpu::kCpuSse2 | cpu::kCpuAvx2 | cpu::kCpuAvx512};
inline constexpr CpuForm kCpuForms[] = {kPortableForm, kSse2Form, kAvx2Form, kAvx512Form};

// Whether this build carries the form and the processor runs it.
inline bool FormRuns(const CpuForm& form) {
    if (form.features != 0 && !VT_HAVE_SSE2) return false;
    return cpu::HasCpuFeature(form.features);
}

// Restricts the library to the features of `form` (or to a mask) for the
// lifetime of the object, then restores the mask it found.
class ScopedCpuFeatures {
public:
    explicit ScopedCpuFeatures(std::uint32_t mask) : saved_(cpu::CpuFeatureMask()) { cpu::SetCpuFeatureMask(mask); }
    explicit ScopedCpuFeatures(const CpuForm& form) : ScopedCpuFeatures(form.features) {}
    ~ScopedCpuFeatures() { cpu::SetCpuFeatureMask(saved_); }
    ScopedCpuFeatures(const ScopedCpuFeatures&) = delete;
    ScopedCpuFeatures& operator=(const ScopedCpuFeatures&) = delete;

private:
    std::uint32_t saved_;
};

// For parameterised tests: the form's name as the test's name.
inline std::string FormName(const CpuForm& form) { return form.name; }

}  // namespace test
}  // namespace vt

// Skips the running test, visibly, when the form cannot run here.
#define VT_SKIP_UNLESS_FORM_RUNS(form) \
    if (!::vt::test::FormRuns(form)) GTEST_SKIP() << (form).name << " form: not built or not on this processor"

#endif  // VT_TESTS_SUPPORT_CPU_FORMS_H
