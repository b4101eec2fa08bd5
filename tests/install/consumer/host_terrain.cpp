// A host of the terrain edition: the edition switch reaches it through the
// imported target or the pkg-config flags.
#include <Veltrane.h>

int main() {
#if !defined(VELTRANE_EDITION_TERRAIN)
    return 1;
#else
    CVeltrane reader;
    unsigned char payload[10] = {0};
    return reader.GetIndexBufferSize(payload, sizeof payload) == 0 ? 0 : 1;
#endif
}
