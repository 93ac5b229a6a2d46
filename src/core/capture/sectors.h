#pragma once

// What the capture readers share: a sector as a capture records it, a
// cursor over a capture's bytes, and the placing of sectors as a volume's
// blocks. Internal to the capture room.

#include "disk_image.h"

#include "core/base/byte_order.h"
#include "core/base/failure.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnook::lif::detail {

// One sector as the capture recorded it: where its ID says it belongs, its
// size, and its bytes (or the one value they all hold).
struct Sector {
    std::uint32_t cylinder = 0;
    std::uint32_t head = 0;
    std::uint32_t number = 0;
    std::size_t size = 0;
    const std::uint8_t* data = nullptr; // nothing when filled or absent
    int fill = -1; // the one value of a compressed sector
    bool readable = false;
};

// A sector recorded with data but no ID, on the track the imager read it from.
struct Orphan {
    std::uint32_t cylinder = 0;
    std::uint32_t head = 0;
};

// Whether sectors of this size hold whole LIF blocks (1, 2 or 4).
inline bool holdsBlocks(std::size_t size)
{
    return size == 256 || size == 512 || size == 1024;
}

// Reads a capture from its front; running out is a Failure.
class CaptureCursor {
public:
    CaptureCursor(ByteView bytes, const char* kind) : bytes_(bytes), kind_(kind) { }
    bool done() const { return at_ == bytes_.size(); }
    std::uint8_t byte() { return bytes(1)[0]; }
    ByteView bytes(std::size_t count)
    {
        if (count > bytes_.size() - at_) {
            throw Failure(std::string("the ") + kind_ + " image ends inside a track (offset " + std::to_string(at_) +
                          ")");
        }
        const ByteView part = bytes_.subspan(at_, count);
        at_ += count;
        return part;
    }

private:
    ByteView bytes_;
    const char* kind_;
    std::size_t at_ = 0;
};

// Places the sectors by their numbers (see DecodedImage): block N is the
// N-th block in the order cylinder, head, sector number, each sector
// holding as many blocks as its size does. Sectors outside the volume, or
// of another format, are no part of it: named in a note, never read.
DecodedImage placeSectors(Container container, const std::vector<Sector>& sectors, const std::vector<Orphan>& orphans,
                          std::size_t fileSize);

// Advanced compression from version 2.0 on (LZSS with adaptive Huffman
// codes) and before it (LZW), undone; nothing a floppy disk holds expands
// beyond kMostExpanded bytes.
constexpr std::size_t kMostExpanded = 16u << 20;
[[noreturn]] void expandsTooFar();
Bytes expandLzh(ByteView packed);
Bytes expandLzw(ByteView packed);

} // namespace varnook::lif::detail
