# Instruction-set flags by file name, in the manner of libwebp's
# cmake/cpu.cmake: a source whose name ends in Sse2.cpp, Avx2.cpp or
# Avx512.cpp is built
# with that instruction set enabled, and nothing else is. The library stays
# at the baseline processor; the SIMD forms in those files run only where the
# processor-feature mask (cpu/CpuFeatures.h) reports the set.
#
# The compiler is asked once whether it builds each set. Where it cannot, the
# whole build is made portable-only (VT_PORTABLE_ONLY), so that no file asks
# for an instruction set it was not built with. VELTRANE_PORTABLE_ONLY does the
# same on request, to check that configuration on x86.
include(CheckCXXSourceCompiles)

option(VELTRANE_PORTABLE_ONLY "Build the portable forms alone, without the SSE2 and AVX2 files" OFF)

set(VT_ISA_NAMES Sse2 Avx2 Avx512)
set(VT_ISA_FLAGS_Sse2 -msse2)
set(VT_ISA_FLAGS_Avx2 -mavx2)
# The AVX-512 files are AVX2 code given the EVEX encodings and 32 vector
# registers, plus what they use of AVX-512 F, BW and VL.
set(VT_ISA_FLAGS_Avx512 -mavx2 -mavx512f -mavx512bw -mavx512vl)
set(VT_ISA_PROBE_Sse2 "#include <emmintrin.h>
int main() { __m128i a = _mm_setzero_si128(); return _mm_cvtsi128_si32(_mm_add_epi8(a, a)); }")
set(VT_ISA_PROBE_Avx2 "#include <immintrin.h>
int main() { __m256i a = _mm256_setzero_si256(); return _mm256_movemask_epi8(_mm256_add_epi8(a, a)); }")
set(VT_ISA_PROBE_Avx512 "#include <immintrin.h>
int main() { __m256i a = _mm256_setzero_si256(); return static_cast<int>(_mm256_cmpeq_epi16_mask(a, a)); }")

set(VT_ISA_ENABLED "")
if(NOT VELTRANE_PORTABLE_ONLY AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86|x86)$")
  set(VT_ISA_ENABLED ${VT_ISA_NAMES})
  foreach(isa IN LISTS VT_ISA_NAMES)
    string(REPLACE ";" " " CMAKE_REQUIRED_FLAGS "${VT_ISA_FLAGS_${isa}}")
    check_cxx_source_compiles("${VT_ISA_PROBE_${isa}}" VT_COMPILER_BUILDS_${isa})
    unset(CMAKE_REQUIRED_FLAGS)
    if(NOT VT_COMPILER_BUILDS_${isa})
      message(STATUS "The compiler cannot build ${isa} code: building the portable forms alone")
      set(VT_ISA_ENABLED "")
      break()
    endif()
  endforeach()
endif()
if(NOT VT_ISA_ENABLED)
  add_compile_definitions(VT_PORTABLE_ONLY)
endif()

# vt_isa_flags(<target>): gives each of the target's sources named *Sse2.cpp,
# *Avx2.cpp or *Avx512.cpp the flags of its instruction set.
function(vt_isa_flags target)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    foreach(isa IN LISTS VT_ISA_ENABLED)
      if(source MATCHES "${isa}\\.cpp$")
        set_property(SOURCE ${source} APPEND PROPERTY COMPILE_OPTIONS ${VT_ISA_FLAGS_${isa}})
      endif()
    endforeach()
  endforeach()
endfunction()
