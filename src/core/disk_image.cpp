#include "disk_image.h"

#include "failure.h"
#include "file_io.h"

#include <algorithm>
#include <array>
#include <deque>
#include <cstring>

namespace varnook::lif {
namespace {

constexpr std::size_t kSectorSize = 256;

// One 256-byte sector as the capture recorded it.
struct Sector {
    std::uint32_t cylinder = 0;
    std::uint32_t head = 0;
    std::uint32_t number = 0;
    const std::uint8_t* data = nullptr; // nothing when filled or absent
    int fill = -1; // the one value of a compressed sector
    bool readable = false;
};

// Takes bytes from the front of a capture; running out is a Failure.
class Take {
public:
    Take(ByteView bytes, const char* kind) : bytes_(bytes), kind_(kind) { }
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

// Places the sectors by their numbers: block N is the N-th sector in the
// order cylinder, head, sector number, numbering from the lowest recorded.
DecodedImage placeSectors(Container container, const std::vector<Sector>& sectors, std::size_t fileSize)
{
    DecodedImage image;
    image.container = container;
    if (sectors.empty()) {
        return image;
    }
    std::uint32_t cylinders = 0, heads = 0, first = 255, last = 0;
    for (const auto& s : sectors) {
        cylinders = std::max(cylinders, s.cylinder + 1);
        heads = std::max(heads, s.head + 1);
        first = std::min(first, s.number);
        last = std::max(last, s.number);
    }
    const std::uint64_t perTrack = last - first + 1;
    const std::uint64_t total = std::uint64_t{cylinders} * heads * perTrack;
    // Every sector takes bytes of the file: numbers far apart claim a disk
    // that the file could not hold.
    if (total > 4 * sectors.size() + 64 || total * kSectorSize > 256 * (fileSize + 1024)) {
        throw Failure(std::string("the ") + containerName(container) +
                      " image numbers its sectors too sparsely to be a disk");
    }
    image.blocks.assign(static_cast<std::size_t>(total * kSectorSize), 0x00);
    std::vector<bool> have(static_cast<std::size_t>(total), false);
    for (const auto& s : sectors) {
        const std::uint64_t block = (std::uint64_t{s.cylinder} * heads + s.head) * perTrack + (s.number - first);
        if (!s.readable || have[block]) {
            continue;
        }
        std::uint8_t* to = image.blocks.data() + block * kSectorSize;
        if (s.data != nullptr) {
            std::memcpy(to, s.data, kSectorSize);
        } else {
            std::memset(to, s.fill, kSectorSize);
        }
        have[block] = true;
    }
    for (std::size_t block = 0; block < have.size(); ++block) {
        if (!have[block]) {
            image.absent.push_back(static_cast<std::uint32_t>(block));
        }
    }
    return image;
}

} // namespace

Container containerOf(ByteView start)
{
    if (start.size() >= 4 && std::memcmp(start.data(), "IMD ", 4) == 0) {
        return Container::ImageDisk;
    }
    // "TD" (normal) or "td" (advanced compression), then the sequence 0.
    if (start.size() >= 3 && start[2] == 0x00 &&
        (std::memcmp(start.data(), "TD", 2) == 0 || std::memcmp(start.data(), "td", 2) == 0)) {
        return Container::TeleDisk;
    }
    return Container::None;
}

const char* containerName(Container container)
{
    return container == Container::ImageDisk ? "ImageDisk" : container == Container::TeleDisk ? "TeleDisk" : "plain";
}

bool DecodedImage::isAbsent(std::uint64_t block) const
{
    return block * kSectorSize >= blocks.size() || std::binary_search(absent.begin(), absent.end(), block);
}

DecodedImage decodeImageDisk(ByteView file)
{
    // The header line and the comment end with 1A.
    const auto commentEnd = std::find(file.begin(), file.end(), std::uint8_t{0x1A});
    if (commentEnd == file.end()) {
        throw Failure("the ImageDisk image has no end to its comment (byte 1A)");
    }
    Take take(file.subspan(static_cast<std::size_t>(commentEnd - file.begin()) + 1), "ImageDisk");
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
            const std::size_t size =
                sizeCode == 0xFF ? std::size_t{sizes[2 * i]} | std::size_t{sizes[2 * i + 1]} << 8 : 128u << sizeCode;
            const std::uint8_t type = take.byte();
            if (type > 8) {
                throw Failure("the ImageDisk image has a sector record of type " + std::to_string(type));
            }
            Sector sector;
            sector.cylinder = cylinders.empty() ? cylinder : cylinders[i];
            sector.head = heads.empty() ? head & 0x0F : heads[i];
            sector.number = numbers[i];
            // 1 and 3 are data, 2 and 4 one value (with or without a deleted
            // mark); 5 to 8 the same read with an error; 0 no data.
            if (type != 0 && type % 2 == 0) {
                sector.fill = take.byte();
            } else if (type != 0) {
                sector.data = take.bytes(size).data();
            }
            sector.readable = type >= 1 && type <= 4;
            if (size == kSectorSize) {
                sectors.push_back(sector);
            }
        }
    }
    return placeSectors(Container::ImageDisk, sectors, file.size());
}

std::uint16_t teleDiskCrc(ByteView bytes)
{
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0xA097 : crc << 1);
        }
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
        return block.size() >= 5 &&
               repeat(block.subspan(3, 2), std::size_t{block[1]} | std::size_t{block[2]} << 8) == size;
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

} // namespace

DecodedImage decodeTeleDisk(ByteView file)
{
    if (file.size() < 12 || teleDiskCrc(file.first(10)) != (file[10] | file[11] << 8)) {
        throw Failure("the TeleDisk image's header is damaged (its CRC does not match)");
    }
    if (file[0] == 't') {
        throw Failure("TeleDisk images made with advanced compression are not read yet");
    }
    Take take(file.subspan(12), "TeleDisk");
    if ((file[7] & 0x80) != 0) { // a comment: its header, then its text
        const ByteView header = take.bytes(10);
        take.bytes(std::size_t{header[2]} | std::size_t{header[3]} << 8);
    }
    std::vector<Sector> sectors;
    std::deque<std::array<std::uint8_t, kSectorSize>> expanded;
    for (;;) {
        const std::uint8_t count = take.byte();
        if (count == 0xFF) {
            break;
        }
        take.bytes(3); // cylinder, head, CRC: each sector says where it belongs
        for (std::size_t i = 0; i < count; ++i) {
            const ByteView header = take.bytes(6);
            const std::uint8_t flags = header[4];
            const bool hasData = (flags & 0x30) == 0 && header[3] < 8;
            ByteView block;
            if (hasData) {
                const ByteView length = take.bytes(2);
                block = take.bytes(std::size_t{length[0]} | std::size_t{length[1]} << 8);
            }
            Sector sector{header[0], header[1], header[2], nullptr, -1, false};
            if (hasData && header[3] == 1) {
                auto& data = expanded.emplace_back();
                sector.readable = expandTeleDiskSector(block, data.data(), kSectorSize) && (flags & 0x02) == 0 &&
                                  (teleDiskCrc(data) & 0xFF) == header[5];
                sector.data = data.data();
            }
            // A sector with data but no ID (numbered from 100) is not the disk's.
            if (header[3] == 1 && (flags & 0x40) == 0) {
                sectors.push_back(sector);
            }
        }
    }
    return placeSectors(Container::TeleDisk, sectors, file.size());
}

std::optional<DecodedImage> readContainer(const std::filesystem::path& path)
{
    std::uint8_t start[4] = {};
    InputFile file(path);
    const std::size_t count = std::min<std::size_t>(sizeof start, static_cast<std::size_t>(file.size()));
    file.readAt(0, start, count);
    switch (containerOf(ByteView(start, count))) {
    case Container::ImageDisk:
        return decodeImageDisk(readFileBytes(path));
    case Container::TeleDisk:
        return decodeTeleDisk(readFileBytes(path));
    case Container::None:
        break;
    }
    return std::nullopt;
}

std::string describeBlocks(const std::vector<std::uint32_t>& blocks)
{
    std::string text;
    for (std::size_t i = 0; i < blocks.size();) {
        std::size_t j = i;
        while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1) {
            ++j;
        }
        text += (text.empty() ? "" : ", ") + std::to_string(blocks[i]) +
                (j > i ? " to " + std::to_string(blocks[j]) : std::string());
        i = j + 1;
    }
    return text;
}

std::string describeAbsent(const DecodedImage& image, std::uint64_t first, std::uint64_t end)
{
    const std::uint64_t captured = image.blocks.size() / kSectorSize;
    std::vector<std::uint32_t> inside(
        std::lower_bound(image.absent.begin(), image.absent.end(), first),
        std::lower_bound(image.absent.begin(), image.absent.end(), std::min(end, captured)));
    std::string text = describeBlocks(inside);
    const std::uint64_t from = std::max(first, captured);
    if (from < end) {
        text += (text.empty() ? "" : ", ") + std::to_string(from) +
                (end - from > 1 ? " to " + std::to_string(end - 1) : std::string());
    }
    return text;
}

} // namespace varnook::lif
