// DEM/DOM packets: the elevation section, and the undecorated entry points
// that Java callers bind through JNA.
//
// format/PayloadFormat.h gives the packet's layout.
//
// Inflated grid: byte 0 holds n, the samples per side, then n x n little-endian
// floats row by row from north to south, west to east, starting at offset 1
// (so never 4-byte aligned). Sample (r, c) stands at x = minX + c * (maxX - minX)
// / n and y = maxY - r * (maxY - minY) / n.
#include "Veltrane.h"

#include <cstdint>

#include "format/InflateExact.h"
#include "format/PayloadFormat.h"
#include "packets/ElevationSample.h"

namespace {

using vt::format::ElevationSection;
using vt::format::Refusal;

// GetDEMBuffer's result widened to a full int; out of line so that the
// register holding it is written as a whole.
__attribute__((noinline)) int InflateGridAsInt(unsigned char* packet, unsigned long length,
                                               unsigned char* destination) {
    return CVeltrane::GetDEMBuffer(packet, length, destination) ? 1 : 0;
}

}  // namespace

int CVeltrane::GetDEMBufferSize(unsigned char* packet, unsigned long length) {
    ElevationSection section;
    if (vt::format::FindElevationSection(packet, length, section) != Refusal::kNone) return 0;
    return static_cast<int>(section.inflatedSize);
}

bool CVeltrane::GetDEMBuffer(unsigned char* packet, unsigned long length, unsigned char* destination) {
    ElevationSection section;
    if (vt::format::FindElevationSection(packet, length, section) != Refusal::kNone) return false;
    return vt::InflateExact(destination, section.inflatedSize, packet + section.streamOffset, section.streamLength);
}

extern "C" {

// The JNA entry points take the length as a Java int; it is read as the
// unsigned 32-bit value it holds.
VELTRANE_API int JNA_GetDEMBufferSize(unsigned char* packet, int length) {
    return CVeltrane::GetDEMBufferSize(packet, static_cast<unsigned long>(static_cast<std::uint32_t>(length)));
}

// The result is a one-byte boolean, which the x86-64 calling convention
// returns in the low byte of the return register only. JNA bindings commonly
// map it as a Java boolean and read the whole 32-bit register, so the value is
// produced as a full int 0 or 1 and
// narrowed last: the upper bits are then zero, not left over from earlier code.
VELTRANE_API bool JNA_GetDEMBuffer(unsigned char* packet, int length, unsigned char* destination) {
    return InflateGridAsInt(packet, static_cast<unsigned long>(static_cast<std::uint32_t>(length)), destination) != 0;
}

// Bilinear elevation at (x, y) inside the bounds, edges included; 0 outside
// them, for an empty grid, and for bounds that are not finite or have no
// area. The SSE2 form does the X and Y arithmetic side by side; where the
// compiler's target already has SSE2 (every x86-64 build) it needs no check.
VELTRANE_API float JNA_GetElevationInBuf(unsigned char* grid, double minX, double minY, double maxX, double maxY,
                                         double x, double y) {
#if VT_HAVE_SSE2
#if !defined(__SSE2__)
    if (!vt::cpu::HasCpuFeature(vt::cpu::kCpuSse2))
        return vt::SampleElevationPortable(grid, minX, minY, maxX, maxY, x, y);
#endif
    return vt::SampleElevationSse2(grid, minX, minY, maxX, maxY, x, y);
#else
    return vt::SampleElevationPortable(grid, minX, minY, maxX, maxY, x, y);
#endif
}

}  // extern "C"
