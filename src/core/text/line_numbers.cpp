#include "line_numbers.h"

#include "core/base/checked.h"
#include "core/base/failure.h"
#include "line_scan.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

namespace varnook {
namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
// A number text ("-2147483648") and its blank.
constexpr std::size_t kNumberRoom = 12;

class Output {
public:
    Output(Bytes& bytes, std::size_t capacity) : bytes_(bytes) { bytes_.resize(std::max(bytes_.size(), capacity)); }

    void reserve(std::size_t more)
    {
        if (bytes_.size() - size_ < more) {
            if (size_ > static_cast<std::size_t>(kInt32Max) - more) {
                throw Failure("the numbered text would be 2 GiB or larger");
            }
            bytes_.resize(bytes_.size() + bytes_.size() / 2 + more);
        }
    }

    void number(std::int32_t value)
    {
        reserve(kNumberRoom);
        char* first = reinterpret_cast<char*>(bytes_.data() + size_);
        const auto result = std::to_chars(first, first + kNumberRoom, value);
        size_ += static_cast<std::size_t>(result.ptr - first);
        bytes_[size_++] = ' ';
    }

    void append(const std::uint8_t* from, std::size_t count, std::size_t readable)
    {
        reserve(count + detail::kBlock);
        detail::copyLine(bytes_.data() + size_, from, count, readable);
        size_ += count;
    }

    void lineBreak()
    {
        reserve(2);
        bytes_[size_++] = kCr;
        bytes_[size_++] = kLf;
    }

    void finish() { bytes_.resize(size_); }

private:
    Bytes& bytes_;
    std::size_t size_ = 0;
};

} // namespace

Bytes insertLineNumberBytes(ByteView text, std::int32_t start, std::int32_t step, Progress* progress)
{
    Bytes out;
    insertLineNumberBytes(text, start, step, out, progress);
    return out;
}

void insertLineNumberBytes(ByteView text, std::int32_t start, std::int32_t step, Bytes& buffer, Progress* progress)
{
    const std::size_t n = text.size();
    if (n == 0) {
        throw Failure("the document is empty");
    }
    checkedSize(n, "the document");

    Output out(buffer, n + n / 4 + 1024);
    std::int32_t number = start;
    std::int32_t line = 1;
    out.number(number);
    const std::uint8_t* s = text.data();
    std::size_t p = 0;
    ProgressTicker ticker(progress);

    for (;;) {
        std::int32_t next = 0;
        if (__builtin_add_overflow(number, step, &next)) {
            throw Failure("line numbers leave the 32-bit range: the number after " + std::to_string(number) +
                          " (line " + std::to_string(line) + ") would be " +
                          std::to_string(static_cast<std::int64_t>(number) + step));
        }
        number = next;
        if (p >= n) {
            break;
        }
        ticker.at(static_cast<std::int64_t>(p));
        const std::size_t end = detail::findCr(s, p, n);
        out.append(s + p, end - p, n - p);
        if (end == n) {
            break;
        }
        out.lineBreak();
        p = end + 1;
        if (p < n && s[p] == kLf) {
            ++p;
        }
        out.number(number);
        ++line;
    }
    out.finish();
}

std::optional<NumberedLine> firstLineOutside(ByteView text, std::int32_t start, std::int32_t step)
{
    // The numbering writes one line more than the text has line breaks.
    const auto lines = 1 + static_cast<std::int64_t>(std::count(text.begin(), text.end(), kCr));
    std::int64_t line = 0;
    if (start < kFirstLineNumber || start > kLastLineNumber) {
        line = 1;
    } else if (step > 0) {
        line = (kLastLineNumber - start) / step + 2;
    } else if (step < 0) {
        line = (start - kFirstLineNumber) / -static_cast<std::int64_t>(step) + 2;
    }
    if (line == 0 || line > lines) {
        return std::nullopt;
    }
    return NumberedLine{line, start + (line - 1) * step};
}

} // namespace varnook
