// Which kind of payload a file holds. The file does not say: the host that
// wrote it knows. The tool looks at the structure of the first payloads and
// takes the kind whose layout they fit.
#include "Common.h"
#include "PayloadFormat.h"

namespace vt {
namespace cli {

Kind GuessPayloadKind(const Bytes& original) {
    Bytes payload = original;  // the parsers may hand the bytes to the codec
    std::string why;
    Terrain terrain;
    // A terrain payload's JPEG 2000 image starts at offset 10; an image
    // envelope's starts at 5 or 6, so the two never both fit.
    if (ParseTerrain(payload, terrain, why) && (terrain.flags & 0xE0) == 0) return Kind::Terrain;
    DdsInfo dds;
    if (ParseDds(payload, dds, why)) return Kind::Dds;
    Packet packet;
    if (ParsePacket(payload, packet, why) && (packet.hasGrid || !packet.orthophotos.empty()))
        return packet.hasGrid ? Kind::Dem : Kind::Dom;
    NewImage image2;
    // With an alpha block the second-generation layout is unmistakable; without
    // one it is byte for byte an image envelope behind a tag byte.
    if (ParseNewImage(payload, image2, why) && image2.alpha) return Kind::Image2;
    Envelope envelope;
    if (ParseEnvelope(payload, envelope, why)) return Kind::Image;
    return Kind::Auto;
}

Kind GuessKind(Pyramid& pyramid, std::string& evidence) {
    int looked = 0;
    Kind found = Kind::Auto;
    for (int level = 0; level < pyramid.levels() && looked < 4; ++level) {
        int n = 1 << level;
        for (int y = 0; y < n && looked < 4; ++y)
            for (int x = 0; x < n && looked < 4; ++x) {
                Bytes payload;
                std::string why;
                if (pyramid.ReadTile(level, x, y, payload, why) != Pyramid::TileStatus::Ok) continue;
                Kind kind = GuessPayloadKind(payload);
                ++looked;
                if (kind == Kind::Auto) continue;
                // Packets with and without a grid may mix; a grid anywhere makes it "dem".
                if (found == Kind::Auto || (found == Kind::Dom && kind == Kind::Dem)) found = kind;
            }
    }
    evidence = looked == 0 ? "no readable payload" : "from the first " + std::to_string(looked) + " payloads";
    return found;
}

Kind ResolveKind(Pyramid& pyramid, Kind kind, const std::string& edition) {
    bool guessed = kind == Kind::Auto;
    if (guessed) {
        std::string evidence;
        kind = GuessKind(pyramid, evidence);
        if (kind == Kind::Auto)
            Fail(kExitUsage, pyramid.path() + ": cannot tell the payload kind (" + evidence +
                                 "); name it with --kind image|image2|dem|dom|terrain|dds");
        Say(pyramid.path() + ": no --kind given; the payloads look like " + KindDescription(kind) + " (" +
            evidence + "), so --kind " + KindName(kind));
    }
    // Terrain payloads belong to the other edition's tool; this does not return
    // when it hands over.
    ForwardToTerrainEdition(kind, edition, guessed);
    if (!KindInThisEdition(kind))
        Fail(kExitUsage, pyramid.path() + ": --kind " + KindName(kind) +
                             " is read by the current edition, not the terrain edition");
    return kind;
}

}  // namespace cli
}  // namespace vt
