// TeleDisk's advanced compression from version 2.0 on.

#include "sectors.h"

#include <algorithm>
#include <array>

namespace varnook::lif::detail {
namespace {

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

} // namespace

void expandsTooFar()
{
    throw Failure("the TeleDisk image's compressed data expands to more than a disk holds");
}

Bytes expandLzh(ByteView packed)
{
    return LzhExpander().expand(packed);
}

} // namespace varnook::lif::detail
