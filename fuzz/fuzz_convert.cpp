// The command line's shortcut over bytes gives what the window's steps
// through the document text give, failures included, for every option and
// code page. The first three bytes choose the options, the rest is the file.

#include "check.h"

#include "cli/converter.h"

#include <string>
#include <vector>

using namespace varnook;
using namespace varnook::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<CodePage> pages = [] {
        std::vector<CodePage> all;
        for (const char* name :
             {"windows-1252", "windows-932", "windows-874", "windows-1250", "windows-1251", "windows-1253",
              "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258"}) {
            all.push_back(CodePage::named(name));
        }
        return all;
    }();
    if (size < 3) {
        return 0;
    }
    Conversion conversion;
    conversion.from = data[0] % 4 == 0 ? Format::Hp : data[0] % 4 == 1 ? Format::LifAscii : Format::Txt;
    conversion.to = (data[0] & 4) != 0 ? Format::Hp : Format::Txt;
    conversion.lineNumbers = conversion.from == Format::Txt && (data[0] & 8) != 0;
    conversion.start = static_cast<std::int8_t>(data[1]) * 4;
    conversion.step = data[2] < 200 ? data[2] % 50 : (data[2] - 200) << 25; // large steps leave the range
    const CodePage& page = pages[(data[0] >> 4) % pages.size()];
    const Bytes input(data + 3, data + size);
    FUZZ_CHECK(outcome([&] { return convert(input, conversion, page); }) ==
               outcome([&] { return convertThroughText(input, conversion, page); }));
    return 0;
}
