// TeleDisk (.TD0) captures: a header, an optional comment, then each track
// and its sectors, after advanced compression is undone.

#include "sectors.h"

#include <array>
#include <cstring>
#include <deque>

namespace varnook::lif {

using namespace detail;

std::uint16_t teleDiskCrc(ByteView bytes)
{
    // A byte at a time: every sector of a capture is checked.
    static constexpr auto kTable = [] {
        std::array<std::uint16_t, 256> table{};
        for (unsigned byte = 0; byte < 256; ++byte) {
            unsigned crc = byte << 8;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0xA097 : crc << 1;
            }
            table[byte] = static_cast<std::uint16_t>(crc);
        }
        return table;
    }();
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>(crc << 8 ^ kTable[(crc >> 8 ^ byte) & 0xFF]);
    }
    return crc;
}

namespace {

// A sector's data block: raw, a repeated 2-byte pattern, or runs of raw
// bytes and repeated patterns. False when it does not give size bytes.
bool expandTeleDiskSector(ByteView block, std::uint8_t* out, std::size_t size)
{
    std::size_t w = 0;
    const auto repeat = [&](ByteView pattern, std::size_t count) {
        for (std::size_t k = 0; k < count && w + pattern.size() <= size; ++k, w += pattern.size()) {
            std::memcpy(out + w, pattern.data(), pattern.size());
        }
        return count * pattern.size();
    };
    if (block.empty()) {
        return false;
    }
    if (block[0] == 0) {
        if (block.size() - 1 != size) {
            return false;
        }
        std::memcpy(out, block.data() + 1, size);
        return true;
    }
    if (block[0] == 1) {
        return block.size() >= 5 && repeat(block.subspan(3, 2), le16(block.data() + 1)) == size;
    }
    std::size_t wanted = 0;
    for (std::size_t p = 1; p < block.size();) {
        const std::uint8_t type = block[p];
        if (type == 0 && p + 2 <= block.size() && p + 2 + block[p + 1] <= block.size()) {
            const std::size_t length = block[p + 1];
            wanted += length;
            if (w + length <= size) {
                std::memcpy(out + w, block.data() + p + 2, length);
                w += length;
            }
            p += 2 + length;
        } else if (type > 0 && type < 8 && p + 2 + (std::size_t{1} << type) <= block.size()) {
            const std::size_t length = std::size_t{1} << type;
            wanted += repeat(block.subspan(p + 2, length), block[p + 1]);
            p += 2 + length;
        } else {
            return false;
        }
    }
    return block[0] == 2 && wanted == size && w == size;
}

// The capture with its advanced compression undone, as a normal one.
Bytes expandTeleDisk(ByteView file)
{
    if (file.size() < 12 || teleDiskCrc(file.first(10)) != le16(file.data() + 10)) {
        throw Failure("the TeleDisk image's header is damaged (its CRC does not match)");
    }
    Bytes body(file.begin(), file.begin() + 12);
    if (file[0] == 'T') {
        body.insert(body.end(), file.begin() + 12, file.end());
        return body;
    }
    body[0] = 'T';
    body[1] = 'D';
    const Bytes expanded = file[4] < 0x20 ? expandLzw(file.subspan(12)) : expandLzh(file.subspan(12));
    body.insert(body.end(), expanded.begin(), expanded.end());
    return body;
}

} // namespace

DecodedImage decodeTeleDisk(ByteView file)
{
    const Bytes unpacked = file.size() >= 2 && file[0] == 't' ? expandTeleDisk(file) : Bytes();
    if (!unpacked.empty()) {
        file = unpacked;
    } else if (file.size() < 12 || teleDiskCrc(file.first(10)) != le16(file.data() + 10)) {
        throw Failure("the TeleDisk image's header is damaged (its CRC does not match)");
    }
    CaptureCursor take(file.subspan(12), "TeleDisk");
    if ((file[7] & 0x80) != 0) { // a comment: its header, then its text
        const ByteView header = take.bytes(10);
        take.bytes(le16(header.data() + 2));
    }
    std::vector<Sector> sectors;
    std::vector<Orphan> orphans;
    std::deque<Bytes> expanded;
    for (;;) {
        const std::uint8_t count = take.byte();
        if (count == 0xFF) {
            break;
        }
        const ByteView track = take.bytes(3); // cylinder, head, CRC
        for (std::size_t i = 0; i < count; ++i) {
            const ByteView header = take.bytes(6);
            const std::uint8_t flags = header[4];
            const bool hasData = (flags & 0x30) == 0 && header[3] < 8;
            ByteView block;
            if (hasData) {
                const ByteView length = take.bytes(2);
                block = take.bytes(le16(length.data()));
            }
            // A sector with data but no ID (numbered from 100) is not placed:
            // where it belongs is unknown.
            if ((flags & 0x40) != 0) {
                orphans.push_back({track[0], track[1] & 0x7Fu});
                continue;
            }
            Sector sector{header[0], header[1], header[2], std::size_t{128} << (header[3] & 7), nullptr, -1, false};
            if (hasData && holdsBlocks(sector.size)) {
                Bytes& data = expanded.emplace_back(sector.size);
                sector.readable = expandTeleDiskSector(block, data.data(), sector.size) && (flags & 0x02) == 0 &&
                                  (teleDiskCrc(data) & 0xFF) == header[5];
                sector.data = data.data();
            }
            sectors.push_back(sector);
        }
    }
    return placeSectors(Container::TeleDisk, sectors, orphans, file.size());
}

} // namespace varnook::lif
