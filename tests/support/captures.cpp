#include "captures.h"

#include "test_support.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace varnook::test {
namespace {

std::uint16_t crcOf(const std::uint8_t* p, std::size_t n)
{
    std::uint16_t c = 0;
    for (std::size_t i = 0; i < n; ++i) {
        c = static_cast<std::uint16_t>(c ^ p[i] << 8);
        for (int b = 0; b < 8; ++b) {
            c = static_cast<std::uint16_t>((c & 0x8000) != 0 ? (c << 1) ^ 0xA097 : c << 1);
        }
    }
    return c;
}

// Bits, the highest of each byte first; the last byte filled with zeros.
struct BitWriter {
    void put(unsigned value, int count)
    {
        for (; count-- > 0; ++bits) {
            if (bits % 8 == 0) {
                bytes.push_back(0);
            }
            bytes.back() = static_cast<std::uint8_t>(bytes.back() | ((value >> count) & 1u) << (7 - bits % 8));
        }
    }
    Bytes bytes;
    std::size_t bits = 0;
};

// The adaptive Huffman tree of 314 symbols (256 bytes, match lengths 3 to
// 60): nodes kept sorted by count, siblings side by side, a node's code the
// path from the root; counts halved when the root reaches 0x8000.
class AdaptiveTree {
public:
    static constexpr int kLeaves = 314, kNodes = 2 * kLeaves - 1, kRoot = kNodes - 1;
    AdaptiveTree()
    {
        for (int i = 0; i < kLeaves; ++i) {
            nodes_[i] = {1, -1 - i};
        }
        build();
    }
    void encode(BitWriter& out, int symbol)
    {
        std::vector<unsigned> path;
        for (int n = leaf_[symbol]; n != kRoot; n = parent_[n]) {
            path.push_back(n % 2);
        }
        std::for_each(path.rbegin(), path.rend(), [&](unsigned bit) { out.put(bit, 1); });
        if (nodes_[kRoot].count == 0x8000) {
            int kept = 0;
            for (const Node& n : nodes_) {
                if (n.child < 0) {
                    nodes_[kept++] = {(n.count + 1) / 2, n.child};
                }
            }
            build();
        }
        // Up from the leaf: swap each node with the last of its count, then count it.
        for (int n = leaf_[symbol]; n != -1; n = n == kRoot ? -1 : parent_[n]) {
            const int last = static_cast<int>(std::find_if(nodes_.begin() + n, nodes_.end(),
                                                           [&](const Node& m) { return m.count != nodes_[n].count; }) -
                                              nodes_.begin() - 1);
            std::swap(nodes_[n].child, nodes_[last].child);
            adopt(n);
            adopt(last);
            ++nodes_[last].count;
            n = last;
        }
    }

private:
    struct Node {
        unsigned count;
        int child; // the left child, or -1 - symbol for a leaf
    };
    std::array<Node, kNodes> nodes_{};
    std::array<int, kNodes> parent_{};
    std::array<int, kLeaves> leaf_{};

    // The inner nodes over the leaves at the start, each placed after the
    // nodes whose count is not above its own.
    void build()
    {
        for (int i = 0, j = kLeaves; j < kNodes; i += 2, ++j) {
            const Node made{nodes_[i].count + nodes_[i + 1].count, i};
            int k = j;
            for (; made.count < nodes_[k - 1].count; --k) {
                nodes_[k] = nodes_[k - 1];
            }
            nodes_[k] = made;
        }
        for (int i = 0; i < kNodes; ++i) {
            adopt(i);
        }
    }
    void adopt(int node)
    {
        const int child = nodes_[node].child;
        if (child < 0) {
            leaf_[-1 - child] = node;
        } else {
            parent_[child] = parent_[child + 1] = node;
        }
    }
};

// LZSS over a 4096-byte ring preset with spaces (matches of 3 to 60 bytes),
// found through a table of where each 3 bytes last stood.
Bytes lzhPacked(const Bytes& data)
{
    constexpr int kPreset = 4096 - 60;
    std::vector<std::uint8_t> seen(kPreset, ' ');
    seen.insert(seen.end(), data.begin(), data.end());
    std::map<std::uint32_t, int> last;
    const auto key = [&](std::size_t p) { return std::uint32_t{seen[p]} << 16 | seen[p + 1] << 8 | seen[p + 2]; };
    BitWriter out;
    AdaptiveTree tree;
    for (std::size_t p = 0; p < seen.size();) {
        int length = 0;
        std::size_t from = 0;
        if (p + 3 <= seen.size()) {
            const auto it = last.find(key(p));
            if (p >= kPreset && it != last.end() && p - it->second < 4000) {
                from = static_cast<std::size_t>(it->second);
                while (length < 60 && p + length < seen.size() && seen[from + length] == seen[p + length]) {
                    ++length;
                }
            }
            last[key(p)] = static_cast<int>(p);
        }
        if (p < kPreset) {
            ++p;
        } else if (length >= 3) {
            tree.encode(out, 253 + length);
            // The distance less one: upper 6 bits in a 3- to 8-bit prefix
            // code (codes handed out in order of length), then the lower 6.
            const unsigned distance = static_cast<unsigned>(p - from - 1), upper = distance >> 6;
            const int groups[6][2] = {{1, 3}, {3, 4}, {8, 5}, {12, 6}, {24, 7}, {16, 8}};
            unsigned code = 0, index = 0;
            for (const auto& [count, bits] : groups) {
                if (upper < index + count) {
                    out.put((code >> (8 - bits)) + (upper - index), bits);
                    break;
                }
                index += count;
                code += count << (8 - bits);
            }
            out.put(distance & 0x3F, 6);
            for (int k = 1; k < length; ++k) {
                if (p + k + 3 <= seen.size()) {
                    last[key(p + k)] = static_cast<int>(p + k);
                }
            }
            p += length;
        } else {
            tree.encode(out, seen[p++]);
        }
    }
    return out.bytes;
}

// 12-bit LZW codes in blocks, a new block (and table) when one fills.
Bytes lzwPacked(const Bytes& data)
{
    Bytes out;
    std::vector<unsigned> codes;
    std::map<std::pair<unsigned, std::uint8_t>, unsigned> table;
    const auto flush = [&] {
        const std::size_t n = codes.size();
        out.insert(out.end(), {static_cast<std::uint8_t>(n * 3), static_cast<std::uint8_t>(n * 3 >> 8)});
        for (std::size_t i = 0; i < n; i += 2) {
            const unsigned pair = codes[i] | (i + 1 < n ? codes[i + 1] << 12 : 0);
            for (std::size_t b = 0; b < (i + 1 < n ? 3u : 2u); ++b) {
                out.push_back(static_cast<std::uint8_t>(pair >> 8 * b));
            }
        }
        codes.clear();
        table.clear();
    };
    for (std::size_t p = 0; p < data.size();) {
        unsigned code = data[p++];
        for (auto it = table.end(); p < data.size() && (it = table.find({code, data[p]})) != table.end(); ++p) {
            code = it->second;
        }
        codes.push_back(code);
        if (p < data.size()) {
            table[{code, data[p]}] = static_cast<unsigned>(256 + table.size());
        }
        if (table.size() == 4096 - 256) {
            flush();
        }
    }
    flush();
    return out;
}

// A sector of a track as an imager records it: its ID, its bytes and the
// first block of the image it holds (SIZE_MAX for none).
struct SectorAt {
    std::uint8_t cylinder, head, number, code; // 128 << code bytes
    const std::uint8_t* data;
    std::size_t block;
    std::size_t size() const { return std::size_t{128} << code; }
    bool same() const
    {
        return std::all_of(data, data + size(), [&](std::uint8_t b) { return b == *data; });
    }
    bool holds(std::size_t b) const { return b != SIZE_MAX && b >= block && b - block < size() / 256; }
};

// Calls visit(sectors) for each track of the image (its last track filled
// with zeros), interleaved 2:1 and numbered from first; then, with extra
// tracks, what imagers read past a volume: another format on three
// cylinders, a track under cylinder 150, sectors numbered 97 to 112.
template <class Visit> void forEachTrack(Bytes plain, const Shape& shape, std::uint8_t first, Visit visit)
{
    const std::size_t track = shape.size * shape.count;
    const auto code = static_cast<std::uint8_t>(shape.size == 256 ? 1 : shape.size == 512 ? 2 : 3);
    plain.resize((plain.size() + track - 1) / track * track, 0x00);
    const std::size_t tracks = plain.size() / track, next = (tracks + 1) / 2;
    static const Bytes junk(1024, 0x4A);
    const std::size_t extra[][5] = {{next, 0, 9, 1, 2},
                                    {next, 1, 9, 1, 2},
                                    {next + 1, 0, 9, 1, 2},
                                    {next + 1, 1, 9, 1, 2},
                                    {next + 2, 0, 9, 1, 2},
                                    {next + 2, 1, 9, 1, 2},
                                    {150, 0, shape.count, first, code},
                                    {next + 3, 0, 16, 97, 1}};
    for (std::size_t t = 0; t < tracks + (shape.extraTracks ? std::size(extra) : 0); ++t) {
        std::vector<SectorAt> sectors;
        const std::size_t* e = t < tracks ? nullptr : extra[t - tracks];
        for (std::size_t i = 0, count = e ? e[2] : shape.count; i < count; ++i) {
            const std::size_t k = e ? i : i / 2 + (i % 2) * ((count + 1) / 2);
            sectors.push_back({static_cast<std::uint8_t>(e ? e[0] : t / 2), static_cast<std::uint8_t>(e ? e[1] : t % 2),
                               static_cast<std::uint8_t>((e ? e[3] : first) + k),
                               static_cast<std::uint8_t>(e ? e[4] : code),
                               e ? junk.data() : plain.data() + t * track + k * shape.size,
                               e ? SIZE_MAX : (t * track + k * shape.size) / 256});
        }
        visit(sectors);
    }
}

} // namespace

Bytes imageDiskOf(const Bytes& image, std::uint8_t first, std::size_t missing, std::size_t bad, const Shape& shape)
{
    Bytes out = bytesOf("IMD 1.18: 07/12/2026 10:00:00\r\nmade by the tests\x1A");
    forEachTrack(image, shape, first, [&](const std::vector<SectorAt>& sectors) {
        const SectorAt& s0 = sectors.front();
        out.insert(out.end(), {5, s0.cylinder, s0.head, static_cast<std::uint8_t>(sectors.size()), s0.code});
        for (const auto& s : sectors) {
            out.push_back(s.number);
        }
        for (const auto& s : sectors) {
            out.push_back(s.holds(missing) ? 0
                                           : static_cast<std::uint8_t>((s.same() ? 2 : 1) + (s.holds(bad) ? 4 : 0)));
            if (!s.holds(missing)) {
                out.insert(out.end(), s.data, s.data + (s.same() ? 1 : s.size()));
            }
        }
    });
    return out;
}

Bytes teleDiskOf(const Bytes& image, std::size_t missing, std::size_t bad, Packing packing, const Shape& shape)
{
    Bytes out = hex("54 44 00 00 15 00 03 00 00 02");
    if (packing != Packing::None) {
        out[0] = 't';
        out[1] = 'd';
        out[4] = packing == Packing::Lzh ? 0x21 : 0x15;
    }
    const std::uint16_t headerCrc = crcOf(out.data(), 10);
    out.insert(out.end(), {static_cast<std::uint8_t>(headerCrc), static_cast<std::uint8_t>(headerCrc >> 8)});
    Bytes body;
    forEachTrack(image, shape, 1, [&](const std::vector<SectorAt>& sectors) {
        // The track header, and a sector with data but no ID on cylinder 0 head 1.
        const std::uint8_t cyl = sectors.front().cylinder, head = sectors.front().head;
        const bool bogus = cyl == 0 && head == 1;
        const auto kept = std::count_if(sectors.begin(), sectors.end(), [&](auto& s) { return !s.holds(missing); });
        body.insert(body.end(), {static_cast<std::uint8_t>(kept + bogus), cyl, head});
        body.push_back(static_cast<std::uint8_t>(crcOf(body.data() + body.size() - 3, 3)));
        if (bogus) {
            body.insert(body.end(), {cyl, head, 100, 1, 0x40, 0, 5, 0, 1, 128, 0, 0xE5, 0xE5});
        }
        for (const auto& s : sectors) {
            if (s.holds(missing)) {
                continue;
            }
            body.insert(body.end(),
                        {s.cylinder, s.head, s.number, s.code, static_cast<std::uint8_t>(s.holds(bad) ? 0x02 : 0),
                         static_cast<std::uint8_t>(crcOf(s.data, s.size()))});
            // One value as a repeated pattern; the others raw and as runs by turns.
            const bool runs = s.number % 2 == 0;
            Bytes encoded = s.same() ? Bytes{1, static_cast<std::uint8_t>(s.size() / 2),
                                             static_cast<std::uint8_t>(s.size() / 512), s.data[0], s.data[0]}
                                     : Bytes{static_cast<std::uint8_t>(runs ? 2 : 0)};
            for (std::size_t at = 0; !s.same() && at < s.size(); at += 128) {
                if (runs) {
                    encoded.insert(encoded.end(), {0, 128});
                }
                encoded.insert(encoded.end(), s.data + at, s.data + at + 128);
            }
            body.insert(body.end(),
                        {static_cast<std::uint8_t>(encoded.size()), static_cast<std::uint8_t>(encoded.size() >> 8)});
            body.insert(body.end(), encoded.begin(), encoded.end());
        }
    });
    body.push_back(0xFF);
    const Bytes packed = packing == Packing::Lzh ? lzhPacked(body) : packing == Packing::Lzw ? lzwPacked(body) : body;
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

} // namespace varnook::test
