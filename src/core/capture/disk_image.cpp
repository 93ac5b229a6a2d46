#include "disk_image.h"

#include "core/base/byte_order.h"
#include "core/base/failure.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <tuple>

namespace varnook::lif {
namespace {

constexpr std::size_t kBlockBytes = 256; // a LIF block, whatever the sectors are

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
bool holdsBlocks(std::size_t size)
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

// The value most often counted; of equals, the first (smallest) or the last.
template <class Map> typename Map::key_type mostCommon(const Map& counts, bool last)
{
    auto best = counts.begin();
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        if (it->second > best->second || (last && it->second == best->second)) {
            best = it;
        }
    }
    return best->first;
}

// "cylinder 77 to 79, 150" as describeBlocks joins runs.
std::string cylindersText(const std::set<std::uint32_t>& cylinders)
{
    const std::string runs = describeBlocks(std::vector<std::uint32_t>(cylinders.begin(), cylinders.end()));
    return (cylinders.size() > 1 ? "cylinders " : "cylinder ") + runs;
}

// The disk's format as the volume's tracks record it: the size of their
// sectors, their numbers and the heads, from the first track and the
// tracks like it; and how far the volume reaches: its label's capacity, or
// without one, the cylinders from 0 that hold such sectors.
class Layout {
public:
    Layout(const std::vector<Sector>& sectors)
    {
        // The size: the first track's, else the most common that holds blocks.
        std::map<std::size_t, std::size_t> sizes, firstTrackSizes;
        std::pair<std::uint32_t, std::uint32_t> firstTrack{UINT32_MAX, UINT32_MAX};
        for (const auto& s : sectors) {
            firstTrack = std::min(firstTrack, std::pair{s.cylinder, s.head});
        }
        for (const auto& s : sectors) {
            if (holdsBlocks(s.size)) {
                ++sizes[s.size];
                if (std::pair{s.cylinder, s.head} == firstTrack) {
                    ++firstTrackSizes[s.size];
                }
            }
        }
        if (sizes.empty()) {
            return;
        }
        size = mostCommon(firstTrackSizes.empty() ? sizes : firstTrackSizes, false);
        // The numbers: the first and last most tracks of that size have.
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::pair<std::uint32_t, std::uint32_t>> ranges;
        for (const auto& s : sectors) {
            if (s.size == size) {
                auto [it, added] = ranges.try_emplace({s.cylinder, s.head}, s.number, s.number);
                it->second = {std::min(it->second.first, s.number), std::max(it->second.second, s.number)};
            }
        }
        std::map<std::uint32_t, std::size_t> firsts, lasts;
        for (const auto& [track, range] : ranges) {
            ++firsts[range.first];
            ++lasts[range.second];
        }
        first = mostCommon(firsts, false);
        perTrack = std::max(first, mostCommon(lasts, true)) - first + 1;
        // The heads of the first two cylinders: tracks past them on another
        // head are no part of the disk.
        for (const auto& s : sectors) {
            if (inFormat(s) && s.cylinder < 2) {
                heads = std::max(heads, s.head + 1);
            }
        }
        heads = std::max(heads, 1u);
    }

    bool usable() const { return size != 0; }
    std::size_t blocksPerSector() const { return size / kBlockBytes; }
    std::uint64_t blocksPerTrack() const { return std::uint64_t{perTrack} * blocksPerSector(); }
    bool inFormat(const Sector& s) const { return s.size == size && s.number >= first && s.number - first < perTrack; }
    // The first block of the sector, were it inside the volume.
    std::uint64_t blockOf(const Sector& s) const
    {
        return trackOf(s.cylinder, s.head) * blocksPerTrack() + std::uint64_t{s.number - first} * blocksPerSector();
    }
    std::uint64_t trackOf(std::uint32_t cylinder, std::uint32_t head) const
    {
        return std::uint64_t{cylinder} * heads + head;
    }

    std::size_t size = 0;
    std::uint32_t first = 0;
    std::uint32_t perTrack = 0;
    std::uint32_t heads = 0;
};

// The volume's capacity as its label gives it (from block 0, the first
// sector of cylinder 0, head 0), or nothing without a label or a geometry.
std::optional<std::uint64_t> labelCapacity(const Layout& layout, const std::vector<Sector>& sectors)
{
    for (const auto& s : sectors) {
        if (s.cylinder == 0 && s.head == 0 && s.number == layout.first && s.size == layout.size && s.readable &&
            s.data != nullptr && s.data[0] == 0x80 && s.data[1] == 0x00) {
            const std::uint64_t capacity = std::uint64_t{be32(s.data + 24)} * be32(s.data + 28) * be32(s.data + 32);
            if (capacity > 0 && be32(s.data + 24) < 65536 && be32(s.data + 28) < 65536 && be32(s.data + 32) < 65536) {
                return capacity;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Places the sectors by their numbers: block N is the N-th block in the
// order cylinder, head, sector number, each sector holding as many blocks
// as its size does. Sectors outside the volume, or of another format, are
// no part of it: named in a note, never read.
DecodedImage placeSectors(Container container, const std::vector<Sector>& sectors, const std::vector<Orphan>& orphans,
                          std::size_t fileSize)
{
    DecodedImage image;
    image.container = container;
    const std::string kind = containerName(container);
    if (sectors.empty()) {
        return image;
    }
    const Layout layout(sectors);
    if (!layout.usable()) {
        throw Failure("the " + kind + " image holds no sectors of 256, 512 or 1024 bytes, which LIF blocks need");
    }
    // How far the volume reaches: its label's capacity, else the cylinders
    // from 0 that hold sectors of its format.
    std::optional<std::uint64_t> capacity = labelCapacity(layout, sectors);
    if (!capacity) {
        std::set<std::uint32_t> cylinders;
        for (const auto& s : sectors) {
            if (layout.inFormat(s) && s.head < layout.heads) {
                cylinders.insert(s.cylinder);
            }
        }
        std::uint32_t reached = 0;
        while (cylinders.count(reached) != 0) {
            ++reached;
        }
        capacity = layout.trackOf(reached, 0) * layout.blocksPerTrack();
    }
    const auto inside = [&](const Sector& s) {
        return s.head < layout.heads && layout.trackOf(s.cylinder, 0) * layout.blocksPerTrack() < *capacity;
    };
    std::uint64_t total = 0;
    std::size_t placed = 0;
    std::set<std::uint32_t> outside;
    std::vector<const Sector*> foreign;
    for (const auto& s : sectors) {
        if (!inside(s)) {
            outside.insert(s.cylinder);
        } else if (!layout.inFormat(s)) {
            foreign.push_back(&s);
        } else if (layout.blockOf(s) < *capacity) {
            total = std::max(total, std::min(*capacity, layout.blockOf(s) + layout.blocksPerSector()));
            ++placed;
        }
    }
    // Every sector takes bytes of the file: numbers far apart claim a disk
    // that the file could not hold.
    const std::uint64_t sectorsClaimed = (total + layout.blocksPerSector() - 1) / layout.blocksPerSector();
    if (sectorsClaimed > 4 * placed + 64 || total > fileSize + 1024) {
        throw Failure("the " + kind + " image numbers its sectors too sparsely to be a disk");
    }
    if (total > kMostCapturedBlocks) {
        throw Failure("the " + kind + " image holds more than any floppy disk");
    }
    image.blocks.assign(static_cast<std::size_t>(total * kBlockBytes), 0x00);
    std::vector<bool> have(static_cast<std::size_t>(total), false);
    for (const auto& s : sectors) {
        const std::uint64_t block = layout.blockOf(s);
        if (!inside(s) || !layout.inFormat(s) || block >= total || !s.readable || have[block]) {
            continue;
        }
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(layout.blocksPerSector(), total - block));
        std::uint8_t* to = image.blocks.data() + block * kBlockBytes;
        if (s.data != nullptr) {
            std::memcpy(to, s.data, count * kBlockBytes);
        } else {
            std::memset(to, s.fill, count * kBlockBytes);
        }
        std::fill_n(have.begin() + static_cast<std::ptrdiff_t>(block), count, true);
    }
    for (std::size_t block = 0; block < have.size(); ++block) {
        if (!have[block]) {
            image.absent.push_back(static_cast<std::uint32_t>(block));
        }
    }
    const std::string volume = "the volume (" + std::to_string(*capacity) + " blocks";
    const std::string format = std::to_string(layout.perTrack) + " sectors of " + std::to_string(layout.size) +
                               " bytes a track, numbered from " + std::to_string(layout.first) + ")";
    if (!outside.empty()) {
        image.notes.push_back("the " + kind + " capture holds tracks outside " + volume + ", " + format + " on " +
                              cylindersText(outside) + ": no part of it, not read");
    }
    if (!foreign.empty()) {
        std::string listed;
        for (std::size_t i = 0; i < std::min<std::size_t>(foreign.size(), 4); ++i) {
            listed += (i == 0 ? "" : ", ") + std::string("cylinder ") + std::to_string(foreign[i]->cylinder) +
                      " head " + std::to_string(foreign[i]->head) + " sector " + std::to_string(foreign[i]->number) +
                      " (" + std::to_string(foreign[i]->size) + " bytes)";
        }
        if (foreign.size() > 4) {
            listed += " and " + std::to_string(foreign.size() - 4) + " more";
        }
        image.notes.push_back(std::to_string(foreign.size()) + " sectors inside " + volume + ", " + format +
                              " are of another format, not read: " + listed);
    }
    for (const auto& orphan : orphans) {
        // Where it belongs is unknown: the blocks it might hold are named,
        // never guessed.
        const std::uint64_t from = layout.trackOf(orphan.cylinder, orphan.head) * layout.blocksPerTrack();
        const bool within = orphan.head < layout.heads && from < *capacity;
        const std::string missing =
            within ? describeAbsent(image, from, std::min(*capacity, from + layout.blocksPerTrack())) : "";
        image.notes.push_back("a sector recorded with data but no ID on cylinder " + std::to_string(orphan.cylinder) +
                              " head " + std::to_string(orphan.head) + ", not read: " +
                              (!within           ? "its track lies outside the volume"
                               : missing.empty() ? "every block of its track was read without it"
                                                 : "it might hold block " + missing + ", missing from the capture"));
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
    return block * kBlockBytes >= blocks.size() || std::binary_search(absent.begin(), absent.end(), block);
}

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

// Reads bits from the front of a byte stream, the highest bit first; past
// the end it gives zeros and remembers that it ran out.
class BitReader {
public:
    explicit BitReader(ByteView bytes) : bytes_(bytes) { }
    bool overrun() const { return at_ > bytes_.size(); }
    unsigned bit()
    {
        if (left_ == 0) {
            byte_ = at_ < bytes_.size() ? bytes_[at_] : 0u;
            ++at_;
            left_ = 8;
        }
        return byte_ >> --left_ & 1u;
    }
    unsigned bits(int count)
    {
        unsigned value = 0;
        while (count-- > 0) {
            value = value << 1 | bit();
        }
        return value;
    }

private:
    ByteView bytes_;
    std::size_t at_ = 0; // the next byte to take
    unsigned byte_ = 0;
    int left_ = 0; // bits of byte_ not yet given
};

// Nothing a floppy disk holds expands beyond this; more is a damaged image.
constexpr std::size_t kMostExpanded = 16u << 20;

[[noreturn]] void expandsTooFar()
{
    throw Failure("the TeleDisk image's compressed data expands to more than a disk holds");
}

// Advanced compression from version 2.0 on: LZSS over a 4096-byte ring
// preset with spaces, its literals and match lengths in an adaptive Huffman
// code and its match positions in a fixed code of their upper 6 bits.
class LzhExpander {
public:
    Bytes expand(ByteView packed)
    {
        BitReader in(packed);
        Bytes out;
        std::array<std::uint8_t, kRing> ring{};
        std::fill_n(ring.begin(), kRing - kLookahead, std::uint8_t{' '});
        std::size_t r = kRing - kLookahead;
        const auto put = [&](std::uint8_t byte) {
            out.push_back(byte);
            ring[r] = byte;
            r = (r + 1) % kRing;
        };
        startTree();
        for (;;) {
            const unsigned symbol = symbolFrom(in);
            if (symbol < 256) {
                if (in.overrun()) {
                    break;
                }
                put(static_cast<std::uint8_t>(symbol));
                continue;
            }
            const std::size_t from = r + kRing - positionFrom(in) - 1;
            if (in.overrun()) { // the padding of the last byte decodes as nothing
                break;
            }
            if (out.size() > kMostExpanded) {
                expandsTooFar();
            }
            for (std::size_t k = 0; k < symbol - 256 + kShortest; ++k) {
                put(ring[(from + k) % kRing]);
            }
        }
        return out;
    }

private:
    static constexpr std::size_t kRing = 4096, kLookahead = 60, kShortest = 3;
    static constexpr unsigned kSymbols = 256 + kLookahead - kShortest + 1; // 314
    static constexpr unsigned kNodes = 2 * kSymbols - 1, kRoot = kNodes - 1;
    static constexpr unsigned kMostFrequent = 0x8000;

    // freq_ has a sentinel past the root; child_ of an inner node is its
    // left child (the right is the next node), of a leaf its symbol + kNodes.
    std::array<unsigned, kNodes + 1> freq_{};
    std::array<unsigned, kNodes> child_{};
    std::array<unsigned, kNodes + kSymbols> parent_{};

    void startTree()
    {
        for (unsigned i = 0; i < kSymbols; ++i) {
            freq_[i] = 1;
            child_[i] = i + kNodes;
            parent_[i + kNodes] = i;
        }
        for (unsigned i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
            freq_[j] = freq_[i] + freq_[i + 1];
            child_[j] = i;
            parent_[i] = parent_[i + 1] = j;
        }
        freq_[kNodes] = 0xFFFF;
        parent_[kRoot] = 0;
    }

    // Halves the counts and builds the tree again, keeping it sorted.
    void rebuild()
    {
        unsigned j = 0;
        for (unsigned i = 0; i < kNodes; ++i) {
            if (child_[i] >= kNodes) {
                freq_[j] = (freq_[i] + 1) / 2;
                child_[j] = child_[i];
                ++j;
            }
        }
        for (unsigned i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
            const unsigned f = freq_[i] + freq_[i + 1];
            unsigned k = j;
            while (f < freq_[k - 1]) {
                --k;
            }
            std::copy_backward(freq_.begin() + k, freq_.begin() + j, freq_.begin() + j + 1);
            std::copy_backward(child_.begin() + k, child_.begin() + j, child_.begin() + j + 1);
            freq_[k] = f;
            child_[k] = i;
        }
        for (unsigned i = 0; i < kNodes; ++i) {
            const unsigned k = child_[i];
            parent_[k] = i;
            if (k < kNodes) {
                parent_[k + 1] = i;
            }
        }
    }

    // Counts the symbol once more, swapping nodes to keep the counts sorted.
    void count(unsigned symbol)
    {
        if (freq_[kRoot] == kMostFrequent) {
            rebuild();
        }
        unsigned c = parent_[symbol + kNodes];
        do {
            const unsigned k = ++freq_[c];
            unsigned l = c + 1;
            if (k > freq_[l]) {
                while (k > freq_[++l]) { }
                --l;
                freq_[c] = freq_[l];
                freq_[l] = k;
                const unsigned i = child_[c];
                parent_[i] = l;
                if (i < kNodes) {
                    parent_[i + 1] = l;
                }
                const unsigned j = child_[l];
                child_[l] = i;
                parent_[j] = c;
                if (j < kNodes) {
                    parent_[j + 1] = c;
                }
                child_[c] = j;
                c = l;
            }
        } while ((c = parent_[c]) != 0);
    }

    unsigned symbolFrom(BitReader& in)
    {
        unsigned c = child_[kRoot];
        while (c < kNodes) {
            c = child_[c + in.bit()];
        }
        c -= kNodes;
        count(c);
        return c;
    }

    // The position's upper 6 bits in a prefix code of 3 to 8 bits, read as
    // a byte and then the bits it lacks; the lower 6 bits as they are.
    static unsigned positionFrom(BitReader& in)
    {
        unsigned i = in.bits(8);
        // Codes of 3, 4, 5, 6, 7 and 8 bits, by the code's first byte.
        static constexpr struct {
            unsigned below, length, firstCode, firstUpper;
        } kGroups[] = {{0x20, 3, 0x00, 0x00}, {0x50, 4, 0x20, 0x01}, {0x90, 5, 0x50, 0x04},
                       {0xC0, 6, 0x90, 0x0C}, {0xF0, 7, 0xC0, 0x18}, {0x100, 8, 0xF0, 0x30}};
        for (const auto& group : kGroups) {
            if (i < group.below) {
                const unsigned upper = group.firstUpper + ((i - group.firstCode) >> (8 - group.length));
                i = (i << (group.length - 2) | in.bits(static_cast<int>(group.length) - 2)) & 0x3F;
                return upper << 6 | i;
            }
        }
        return 0; // not reached: a byte is below 0x100
    }
};

// Advanced compression before version 2.0: blocks of 12-bit LZW codes, each
// block with its own table, headed by the number of codes times 3.
Bytes expandLzw(ByteView packed)
{
    Bytes out;
    CaptureCursor take(packed, "TeleDisk");
    while (!take.done()) {
        const ByteView head = take.bytes(2);
        const std::size_t codes = (std::size_t{head[0]} | std::size_t{head[1]} << 8) / 3;
        const ByteView block = take.bytes((3 * codes + 1) / 2);
        // Each entry: the entry it extends, its last byte and its length.
        struct Entry {
            std::uint16_t prefix;
            std::uint8_t last;
            std::uint16_t length;
        };
        std::vector<Entry> table;
        table.reserve(4096);
        for (unsigned b = 0; b < 256; ++b) {
            table.push_back({0, static_cast<std::uint8_t>(b), 1});
        }
        int previous = -1;
        for (std::size_t n = 0; n < codes; ++n) {
            const std::size_t at = n / 2 * 3;
            const unsigned code = n % 2 == 0 ? (block[at] | (block[at + 1] & 0x0Fu) << 8)
                                             : (block[at + 1] >> 4 | unsigned{block[at + 2]} << 4);
            const bool known = code < table.size();
            if (!known && (code != table.size() || previous < 0)) {
                throw Failure("the TeleDisk image's compressed data is damaged (LZW code " + std::to_string(code) +
                              ")");
            }
            const unsigned entry = known ? code : static_cast<unsigned>(previous);
            const std::size_t start = out.size();
            out.resize(start + table[entry].length + (known ? 0 : 1));
            std::size_t w = start + table[entry].length;
            for (unsigned e = entry;; e = table[e].prefix) {
                out[--w] = table[e].last;
                if (table[e].length == 1) {
                    break;
                }
            }
            if (!known) {
                out.back() = out[start];
            }
            if (previous >= 0 && table.size() < 4096) {
                table.push_back({static_cast<std::uint16_t>(previous), out[start],
                                 static_cast<std::uint16_t>(table[previous].length + 1)});
            }
            previous = static_cast<int>(code);
            if (out.size() > kMostExpanded) {
                expandsTooFar();
            }
        }
    }
    return out;
}

// The capture with its advanced compression undone, as a normal one.
Bytes expandTeleDisk(ByteView file)
{
    if (file.size() < 12 || teleDiskCrc(file.first(10)) != (file[10] | file[11] << 8)) {
        throw Failure("the TeleDisk image's header is damaged (its CRC does not match)");
    }
    Bytes body(file.begin(), file.begin() + 12);
    if (file[0] == 'T') {
        body.insert(body.end(), file.begin() + 12, file.end());
        return body;
    }
    body[0] = 'T';
    body[1] = 'D';
    const Bytes expanded = file[4] < 0x20 ? expandLzw(file.subspan(12)) : LzhExpander().expand(file.subspan(12));
    body.insert(body.end(), expanded.begin(), expanded.end());
    return body;
}

} // namespace

DecodedImage decodeTeleDisk(ByteView file)
{
    const Bytes unpacked = file.size() >= 2 && file[0] == 't' ? expandTeleDisk(file) : Bytes();
    if (!unpacked.empty()) {
        file = unpacked;
    } else if (file.size() < 12 || teleDiskCrc(file.first(10)) != (file[10] | file[11] << 8)) {
        throw Failure("the TeleDisk image's header is damaged (its CRC does not match)");
    }
    CaptureCursor take(file.subspan(12), "TeleDisk");
    if ((file[7] & 0x80) != 0) { // a comment: its header, then its text
        const ByteView header = take.bytes(10);
        take.bytes(std::size_t{header[2]} | std::size_t{header[3]} << 8);
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
                block = take.bytes(std::size_t{length[0]} | std::size_t{length[1]} << 8);
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
    const std::uint64_t captured = image.blocks.size() / kBlockBytes;
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
