// The encoder on any text: a text it accepts comes back through the decoder
// as the normalised text with a final CR LF, and so it does read as a
// program file with zeros after its end mark. (00 and FF cannot be carried
// in the format, so they are left out of the texts.)

#include "check.h"

#include "core/base/failure.h"
#include "core/program/hp_ascii.h"
#include "core/text/line_breaks.h"

#include <string>

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += static_cast<char>(data[i] == 0x00 ? 0x01 : data[i] == 0xFF ? 0xFE : data[i]);
    }
    text = normalizeLineBreaks(text);
    Bytes file;
    try {
        file = encodeHpAsciiBytes(Bytes(text.begin(), text.end()));
    } catch (const Failure&) {
        return 0;
    }
    FUZZ_CHECK(file.size() % 2 == 1);
    FUZZ_CHECK(file[file.size() - 3] == 0x00 && file[file.size() - 2] == 0xFF && file[file.size() - 1] == 0xFF);
    const Bytes decoded = decodeHpAsciiBytes(file);
    const std::string expected = text.ends_with("\r\n") ? text : text + "\r\n";
    FUZZ_CHECK(std::string(decoded.begin(), decoded.end()) == expected);
    file.resize(file.size() + size * 7 % 600, 0x00); // as files copied off volumes have them
    const Bytes program = decodeProgramFile(file);
    FUZZ_CHECK(std::string(program.begin(), program.end()) == expected);
    return 0;
}
