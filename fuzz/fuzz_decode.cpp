// The decoder on any bytes: never 00 or FF in the result, and the vectorised
// loop agrees with the byte-at-a-time one, failures included. Read as a
// program file, any bytes give lines that end in CR LF and hold no CR or LF
// of their own, or a clean failure.

#include "check.h"

#include "core/base/failure.h"
#include "core/program/hp_ascii.h"

#include <algorithm>
#include <string>

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Short inputs only get past the header when padded.
    Bytes file(data, data + size);
    if (size > 0 && data[0] % 2 == 0) {
        file.insert(file.begin(), 258, 0x41);
    }
    const std::string fast = outcome([&] {
        Bytes decoded = decodeHpAsciiBytes(file);
        FUZZ_CHECK(std::find(decoded.begin(), decoded.end(), 0x00) == decoded.end());
        FUZZ_CHECK(std::find(decoded.begin(), decoded.end(), 0xFF) == decoded.end());
        return decoded;
    });
    FUZZ_CHECK(fast == outcome([&] { return detail::decodeHpAsciiBytesScalar(file); }));
    try {
        const Bytes text = decodeProgramFile(file);
        for (std::size_t i = 0; i < text.size(); ++i) {
            FUZZ_CHECK(text[i] != 0x00 && text[i] != 0xFF &&
                       (text[i] != 0x0D || (i + 1 < text.size() && text[i + 1] == 0x0A)) &&
                       (text[i] != 0x0A || (i > 0 && text[i - 1] == 0x0D)));
        }
    } catch (const Failure&) {
    }
    return 0;
}
