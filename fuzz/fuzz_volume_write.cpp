// Write, then read: a program written into a fresh volume (or over itself,
// or beside another) reads back as the same lines, and the volume stays
// clean for the structure check.

#include "check.h"

#include "core/failure.h"
#include "core/hp_ascii.h"
#include "core/lif.h"
#include "core/structure_check.h"

#include <algorithm>
#include <string>

using namespace varnook;

namespace {

std::string textOfFile(const Bytes& image, const char* name)
{
    const lif::Volume volume = lif::parseImage(image);
    const lif::Entry* entry = volume.find(name);
    FUZZ_CHECK(entry != nullptr && entry->type == lif::kTypeAscii);
    const ByteView blocks = ByteView(image).subspan(entry->start * lif::kBlockSize, entry->blocks * lif::kBlockSize);
    const Bytes text = lif::textFromLines(lif::readRecords(blocks));
    return std::string(text.begin(), text.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    // The first byte sizes the volume, the rest is the program text.
    const std::uint32_t blocks = 8 + data[0] % 64;
    Bytes text(data + 1, data + size);
    for (auto& byte : text) {
        byte = byte == 0x00 ? 0x01 : byte == 0xFF ? 0xFE : byte;
    }
    Bytes program;
    try {
        program = encodeHpAsciiBytes(text);
    } catch (const Failure&) {
        return 0;
    }
    const Bytes decoded = decodeHpAsciiBytes(program);
    const std::string expected(decoded.begin(), decoded.end());
    const Bytes content = lif::asciiFileFromProgramFile(program);
    Bytes image = lif::newVolumeImage("FUZZ", blocks, 1, {});
    for (const char* name : {"PROG", "OTHER", "PROG"}) {
        try {
            lif::putFile(image, name, content, {});
        } catch (const Failure& e) {
            FUZZ_CHECK(std::string(e.what()).starts_with("the volume is full"));
            return 0;
        }
        FUZZ_CHECK(textOfFile(image, name) == expected);
        const auto findings = checkVolumeImage(image); // a note that the image stops early is no departure
        FUZZ_CHECK(std::all_of(findings.begin(), findings.end(), [](const lif::Finding& f) { return f.note; }));
    }
    FUZZ_CHECK(textOfFile(image, "OTHER") == expected);
    return 0;
}
