// ImageDisk (.IMD) captures: a header line and comment, then a record of
// each track and its sectors.

#include "sectors.h"

#include <algorithm>

namespace varnook::lif {

using namespace detail;

DecodedImage decodeImageDisk(ByteView file)
{
    // The header line and the comment end with 1A.
    const auto commentEnd = std::find(file.begin(), file.end(), std::uint8_t{0x1A});
    if (commentEnd == file.end()) {
        throw Failure("the ImageDisk image has no end to its comment (byte 1A)");
    }
    CaptureCursor take(file.subspan(static_cast<std::size_t>(commentEnd - file.begin()) + 1), "ImageDisk");
    std::vector<Sector> sectors;
    while (!take.done()) {
        take.byte(); // the mode: rate and density, nothing the blocks need
        const std::uint8_t cylinder = take.byte();
        const std::uint8_t head = take.byte();
        const std::uint8_t count = take.byte();
        const std::uint8_t sizeCode = take.byte();
        if (sizeCode > 6 && sizeCode != 0xFF) {
            throw Failure("the ImageDisk image has a sector size code of " + std::to_string(sizeCode));
        }
        const ByteView numbers = take.bytes(count);
        const ByteView cylinders = (head & 0x80) != 0 ? take.bytes(count) : ByteView();
        const ByteView heads = (head & 0x40) != 0 ? take.bytes(count) : ByteView();
        const ByteView sizes = sizeCode == 0xFF ? take.bytes(2 * std::size_t{count}) : ByteView();
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t size = sizeCode == 0xFF ? std::size_t{le16(sizes.data() + 2 * i)} : 128u << sizeCode;
            const std::uint8_t type = take.byte();
            if (type > 8) {
                throw Failure("the ImageDisk image has a sector record of type " + std::to_string(type));
            }
            Sector sector;
            sector.cylinder = cylinders.empty() ? cylinder : cylinders[i];
            sector.head = heads.empty() ? head & 0x0F : heads[i];
            sector.number = numbers[i];
            sector.size = size;
            // 1 and 3 are data, 2 and 4 one value (with or without a deleted
            // mark); 5 to 8 the same read with an error; 0 no data.
            if (type != 0 && type % 2 == 0) {
                sector.fill = take.byte();
            } else if (type != 0) {
                sector.data = take.bytes(size).data();
            }
            sector.readable = type >= 1 && type <= 4;
            sectors.push_back(sector);
        }
    }
    return placeSectors(Container::ImageDisk, sectors, {}, file.size());
}

} // namespace varnook::lif
