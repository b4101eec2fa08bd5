// A host of the current edition: opens nothing, asks a fresh reader and one
// current-edition member.
#include <Veltrane.h>

#include <cstdio>

int main() {
#if defined(VELTRANE_EDITION_TERRAIN)
    std::puts("current-edition host compiled as terrain edition");
    return 1;
#else
    CVeltrane reader;
    unsigned char packet[2] = {0, 0};
    if (reader.GetMaxLevel() != 0 || CVeltrane::GetDEMBufferSize(packet, 2) != 0) return 1;
    return reader.Veltrane("/nonexistent/file.vtp") ? 1 : 0;
#endif
}
