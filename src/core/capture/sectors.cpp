#include "sectors.h"

#include "core/base/byte_order.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>

namespace varnook::lif {
namespace detail {
namespace {

constexpr std::size_t kBlockBytes = 256; // a LIF block, whatever the sectors are

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

// How far the volume reaches: its label's capacity, else the cylinders
// from 0 that hold sectors of its format.
std::uint64_t volumeCapacity(const Layout& layout, const std::vector<Sector>& sectors)
{
    if (const auto capacity = labelCapacity(layout, sectors)) {
        return *capacity;
    }
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
    return layout.trackOf(reached, 0) * layout.blocksPerTrack();
}

// The sectors sorted by where they lie: in the volume and its format, in
// it but of another format, or on tracks outside it.
struct Placement {
    Placement(const Layout& l, std::uint64_t c) : layout(l), capacity(c) { }
    const Layout& layout;
    std::uint64_t capacity;
    std::uint64_t total = 0; // the blocks the placed sectors reach
    std::size_t placed = 0;
    std::set<std::uint32_t> outside; // cylinders
    std::vector<const Sector*> foreign;

    bool inside(const Sector& s) const
    {
        return s.head < layout.heads && layout.trackOf(s.cylinder, 0) * layout.blocksPerTrack() < capacity;
    }
    bool placedHere(const Sector& s) const { return inside(s) && layout.inFormat(s) && layout.blockOf(s) < total; }
};

Placement sortSectors(const Layout& layout, std::uint64_t capacity, const std::vector<Sector>& sectors,
                      std::size_t fileSize, const std::string& kind)
{
    Placement placement(layout, capacity);
    for (const auto& s : sectors) {
        if (!placement.inside(s)) {
            placement.outside.insert(s.cylinder);
        } else if (!layout.inFormat(s)) {
            placement.foreign.push_back(&s);
        } else if (layout.blockOf(s) < capacity) {
            placement.total =
                std::max(placement.total, std::min(capacity, layout.blockOf(s) + layout.blocksPerSector()));
            ++placement.placed;
        }
    }
    // Every sector takes bytes of the file: numbers far apart claim a disk
    // that the file could not hold.
    const std::uint64_t sectorsClaimed = (placement.total + layout.blocksPerSector() - 1) / layout.blocksPerSector();
    if (sectorsClaimed > 4 * placement.placed + 64 || placement.total > fileSize + 1024) {
        throw Failure("the " + kind + " image numbers its sectors too sparsely to be a disk");
    }
    if (placement.total > kMostCapturedBlocks) {
        throw Failure("the " + kind + " image holds more than any floppy disk");
    }
    return placement;
}

// The blocks of the placed sectors, the first readable copy of each; the
// blocks none gives are absent.
void copyBlocks(DecodedImage& image, const Placement& placement, const std::vector<Sector>& sectors)
{
    const Layout& layout = placement.layout;
    image.blocks.assign(static_cast<std::size_t>(placement.total * kBlockBytes), 0x00);
    std::vector<bool> have(static_cast<std::size_t>(placement.total), false);
    for (const auto& s : sectors) {
        const std::uint64_t block = layout.blockOf(s);
        if (!placement.placedHere(s) || !s.readable || have[block]) {
            continue;
        }
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(layout.blocksPerSector(), placement.total - block));
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
}

// What lies beside the volume: never read, named in notes.
void noteWhatIsNotRead(DecodedImage& image, const Placement& placement, const std::vector<Orphan>& orphans,
                       const std::string& kind)
{
    const Layout& layout = placement.layout;
    const std::uint64_t capacity = placement.capacity;
    const std::string volume = "the volume (" + std::to_string(capacity) + " blocks";
    const std::string format = std::to_string(layout.perTrack) + " sectors of " + std::to_string(layout.size) +
                               " bytes a track, numbered from " + std::to_string(layout.first) + ")";
    if (!placement.outside.empty()) {
        image.notes.push_back("the " + kind + " capture holds tracks outside " + volume + ", " + format + " on " +
                              cylindersText(placement.outside) + ": no part of it, not read");
    }
    const auto& foreign = placement.foreign;
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
        const bool within = orphan.head < layout.heads && from < capacity;
        const std::string missing =
            within ? describeAbsent(image, from, std::min(capacity, from + layout.blocksPerTrack())) : "";
        image.notes.push_back("a sector recorded with data but no ID on cylinder " + std::to_string(orphan.cylinder) +
                              " head " + std::to_string(orphan.head) + ", not read: " +
                              (!within           ? "its track lies outside the volume"
                               : missing.empty() ? "every block of its track was read without it"
                                                 : "it might hold block " + missing + ", missing from the capture"));
    }
}

} // namespace

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
    const Placement placement = sortSectors(layout, volumeCapacity(layout, sectors), sectors, fileSize, kind);
    copyBlocks(image, placement, sectors);
    noteWhatIsNotRead(image, placement, orphans, kind);
    return image;
}

} // namespace detail

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
    return block * detail::kBlockBytes >= blocks.size() || std::binary_search(absent.begin(), absent.end(), block);
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
    const std::uint64_t captured = image.blocks.size() / detail::kBlockBytes;
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
