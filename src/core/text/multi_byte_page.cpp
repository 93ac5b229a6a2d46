#include "code_page_paths.h"

#include <algorithm>

namespace varnook::codepages {

MultiBytePage::MultiBytePage(const std::string& name, const PageTable& table) : name_(name), table_(table)
{
    leadIndex_.fill(-1);
    if (table.singles == nullptr) { // UTF-8
        return;
    }
    fromBmp_.assign(0x10000, 0);
    const std::uint16_t* oneWayEnd = table.oneWay + table.oneWayCount;
    const auto add = [&](char16_t c, unsigned sequence) {
        if (c != kNone && std::find(table.oneWay, oneWayEnd, sequence) == oneWayEnd) {
            fromBmp_[c] = static_cast<std::uint16_t>(sequence + 1);
        }
    };
    std::int16_t leads = 0;
    for (unsigned b = 0; b < 256; ++b) {
        if (table.singles[b] == kLeadByte) {
            leadIndex_[b] = leads;
            for (unsigned t = 0; t < table.trailCount; ++t) {
                add(table.doubles[static_cast<std::size_t>(leads) * table.trailCount + t],
                    b << 8 | (table.trailFirst + t));
            }
            ++leads;
        } else {
            add(table.singles[b], b);
        }
    }
}

char16_t MultiBytePage::read(ByteView bytes, std::size_t i, std::size_t& length) const
{
    const std::uint8_t b = bytes[i];
    length = 1;
    if (leadIndex_[b] < 0) {
        return table_.singles[b];
    }
    if (i + 1 >= bytes.size()) {
        return kNone;
    }
    const unsigned trail = bytes[i + 1] - table_.trailFirst; // wraps below the range
    if (trail >= table_.trailCount) {
        return kNone; // the lead byte alone is reported
    }
    length = 2;
    return table_.doubles[static_cast<std::size_t>(leadIndex_[b]) * table_.trailCount + trail];
}

std::string MultiBytePage::toUtf8(ByteView bytes) const
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    if (table_.singles == nullptr) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
            std::int32_t c = 0;
            length = nextCodePoint(text, i, c);
            if (c < 0) {
                failUndecodable(name_, bytes, i, length);
            }
        }
        return std::string(text);
    }
    for (std::size_t i = 0, length = 0; i < bytes.size(); i += length) {
        const char16_t c = read(bytes, i, length);
        if (c == kNone || c == kLeadByte) {
            failUndecodable(name_, bytes, i, length);
        }
        appendUtf8(out, c);
    }
    return out;
}

std::size_t MultiBytePage::fromUtf8(std::string_view text, Bytes& out, bool singleOnly) const
{
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        std::int32_t c = 0;
        length = nextCodePoint(text, i, c);
        if (c < 0) {
            failInvalidUtf8(text, i);
        }
        if (table_.singles == nullptr) {
            if (singleOnly && length > 1) {
                return i;
            }
            out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(i),
                       text.begin() + static_cast<std::ptrdiff_t>(i + length));
            continue;
        }
        const unsigned sequence = c > 0xFFFF ? 0 : fromBmp_[static_cast<std::size_t>(c)];
        if (sequence == 0 || (singleOnly && sequence > 0x100)) {
            return i;
        }
        if (sequence > 0x100) {
            out.push_back(static_cast<std::uint8_t>((sequence - 1) >> 8));
        }
        out.push_back(static_cast<std::uint8_t>(sequence - 1));
    }
    return std::string_view::npos;
}

} // namespace varnook::codepages
