// Orthophoto sections of DEM/DOM packets: a list of JPEG 2000 images of the
// tile, each tagged with a one-byte id.
//
// Packet: byte 0 leading tag (skipped), byte 1 the first section's tag. An
// elevation section (tag 1) holds U at offset 2, Z at offset 6 and Z bytes of
// zlib data from offset 10; the orthophoto section then starts at 10 + Z.
// Orthophoto section: tag 2, count N (one byte), then N entries of
//   id (1 byte), S (u32 little-endian), S bytes of JPEG 2000 code stream.
// Ids need not be unique: a lookup takes the first match in stored order.
// Nothing past the packet length is read: a section or entry that runs past
// it makes the packet unreadable (0 / false).
#include "Veltrane.h"

#include <cstdint>

#include "format/ByteReader.h"
#include "FixedTileImage.h"

namespace {

constexpr std::uint64_t kEntryHeader = 5;

using vt::bytes::LoadU32LE;

// Finds the orthophoto section; on success `entries` is the offset of the
// first entry and `count` is N.
bool LocateSection(const unsigned char* packet, std::uint64_t length, std::uint64_t& entries, unsigned& count) {
    if (packet == nullptr || length <= 1) return false;
    std::uint64_t p = 1;
    if (packet[1] == 1) {
        if (length < 10) return false;  // no room for U and Z
        p = 10 + static_cast<std::uint64_t>(LoadU32LE(packet + 6));
        if (p >= length) return false;
    }
    if (packet[p] != 2 || p + 2 > length) return false;
    count = packet[p + 1];
    entries = p + 2;
    return true;
}

// Steps over the entry at `offset`: its id, and the position and length of
// its code stream. False when the entry or its code stream runs past `length`.
bool ReadEntry(const unsigned char* packet, std::uint64_t length, std::uint64_t offset, unsigned& id,
               std::uint64_t& stream, std::uint64_t& streamLength) {
    if (offset + kEntryHeader > length) return false;
    id = packet[offset];
    streamLength = LoadU32LE(packet + offset + 1);
    stream = offset + kEntryHeader;
    return stream + streamLength <= length;
}

}  // namespace

int CVeltrane::GetDOMCount(unsigned char* packet, unsigned long length, int* ids) {
    std::uint64_t offset = 0;
    unsigned count = 0;
    if (!LocateSection(packet, length, offset, count)) return 0;
    // Walk the whole list first, so that a packet whose entries run past its
    // length yields 0 without writing a partial list.
    const std::uint64_t first = offset;
    for (unsigned i = 0; i < count; ++i) {
        unsigned id = 0;
        std::uint64_t stream = 0, streamLength = 0;
        if (!ReadEntry(packet, length, offset, id, stream, streamLength)) return 0;
        offset = stream + streamLength;
    }
    if (ids != nullptr) {
        offset = first;
        for (unsigned i = 0; i < count; ++i) {
            unsigned id = 0;
            std::uint64_t stream = 0, streamLength = 0;
            ReadEntry(packet, length, offset, id, stream, streamLength);
            ids[i] = static_cast<int>(id);
            offset = stream + streamLength;
        }
    }
    return static_cast<int>(count);
}

bool CVeltrane::GetDOMBuffer(unsigned char* packet, unsigned long length, int id, unsigned char* destination,
                             OutputType type) {
    if (packet == nullptr || destination == nullptr) return false;
    std::uint64_t offset = 0;
    unsigned count = 0;
    if (!LocateSection(packet, length, offset, count)) return false;
    for (unsigned i = 0; i < count; ++i) {
        unsigned entryId = 0;
        std::uint64_t stream = 0, streamLength = 0;
        if (!ReadEntry(packet, length, offset, entryId, stream, streamLength)) return false;
        if (static_cast<int>(entryId) == id) {
            return vt::packets::DecodeFixedTile(packet + stream, streamLength, destination,
                                                vt::packets::FixedTileOutputFor(type, true));
        }
        offset = stream + streamLength;
    }
    return false;
}
