// TeleDisk's advanced compression before version 2.0.

#include "sectors.h"

#include <string>
#include <vector>

namespace varnook::lif::detail {

// Advanced compression before version 2.0: blocks of 12-bit LZW codes, each
// block with its own table, headed by the number of codes times 3.
Bytes expandLzw(ByteView packed)
{
    Bytes out;
    CaptureCursor take(packed, "TeleDisk");
    while (!take.done()) {
        const ByteView head = take.bytes(2);
        const std::size_t codes = le16(head.data()) / 3u;
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

} // namespace varnook::lif::detail
