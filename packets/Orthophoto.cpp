// Orthophoto sections of DEM/DOM packets: a list of JPEG 2000 images of the
// tile, each tagged with a one-byte id (format/PayloadFormat.h gives the
// layout). Ids need not be unique: a lookup takes the first match in stored
// order. Nothing past the packet length is read: a section or entry that runs
// past it makes the packet unreadable (0 / false).
#include "Veltrane.h"

#include <cstdint>

#include "FixedTileImage.h"
#include "format/PayloadFormat.h"

namespace {

using vt::format::OrthophotoEntry;
using vt::format::OrthophotoSection;
using vt::format::Refusal;

}  // namespace

int CVeltrane::GetDOMCount(unsigned char* packet, unsigned long length, int* ids) {
    OrthophotoSection section;
    if (vt::format::FindOrthophotoSection(packet, length, section) != Refusal::kNone) return 0;
    // Walk the whole list first, so that a packet whose entries run past its
    // length yields 0 without writing a partial list.
    OrthophotoEntry entry;
    std::uint64_t offset = section.firstEntry;
    for (unsigned i = 0; i < section.count; ++i) {
        if (vt::format::ReadOrthophotoEntry(packet, length, offset, entry) != Refusal::kNone) return 0;
        offset = entry.next;
    }
    if (ids != nullptr) {
        offset = section.firstEntry;
        for (unsigned i = 0; i < section.count; ++i) {
            vt::format::ReadOrthophotoEntry(packet, length, offset, entry);
            ids[i] = static_cast<int>(entry.id);
            offset = entry.next;
        }
    }
    return static_cast<int>(section.count);
}

bool CVeltrane::GetDOMBuffer(unsigned char* packet, unsigned long length, int id, unsigned char* destination,
                             OutputType type) {
    if (packet == nullptr || destination == nullptr) return false;
    OrthophotoSection section;
    if (vt::format::FindOrthophotoSection(packet, length, section) != Refusal::kNone) return false;
    OrthophotoEntry entry;
    std::uint64_t offset = section.firstEntry;
    for (unsigned i = 0; i < section.count; ++i) {
        if (vt::format::ReadOrthophotoEntry(packet, length, offset, entry) != Refusal::kNone) return false;
        if (static_cast<int>(entry.id) == id) {
            return vt::packets::DecodeFixedTile(packet + entry.streamOffset, entry.streamLength, destination,
                                                vt::packets::FixedTileOutputFor(type, true));
        }
        offset = entry.next;
    }
    return false;
}
