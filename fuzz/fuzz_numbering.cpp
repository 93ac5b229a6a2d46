// Line numbering with Start and Step from the input: one output line per
// input line, each starting with its number and a blank.

#include "check.h"

#include "core/base/failure.h"
#include "core/text/line_breaks.h"
#include "core/text/line_numbers.h"

#include <cstring>
#include <string>

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8) {
        return 0;
    }
    std::int32_t start = 0;
    std::int32_t step = 0;
    std::memcpy(&start, data, 4);
    std::memcpy(&step, data + 4, 4);
    const std::string text = normalizeLineBreaks(std::string(data + 8, data + size));
    Bytes numbered;
    try {
        numbered = insertLineNumberBytes(Bytes(text.begin(), text.end()), start, step);
    } catch (const Failure&) {
        return 0;
    }
    std::size_t lines = 1;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        lines += text[i] == '\r' && text[i + 1] == '\n';
    }
    const std::string out(numbered.begin(), numbered.end());
    std::size_t outLines = 0;
    std::size_t at = 0;
    long long expected = start;
    for (;;) {
        const std::string prefix = std::to_string(expected) + " ";
        FUZZ_CHECK(out.compare(at, prefix.size(), prefix) == 0);
        ++outLines;
        expected += step;
        const std::size_t next = out.find("\r\n", at);
        if (next == std::string::npos) {
            break;
        }
        at = next + 2;
    }
    FUZZ_CHECK(outLines == lines);
    return 0;
}
