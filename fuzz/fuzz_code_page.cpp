// Code-page conversions both ways in windows-1252 and windows-932: nothing
// is substituted, and what converts comes back as it was.

#include "check.h"

#include "core/text/code_page.h"
#include "core/base/failure.h"

#include <string>

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const CodePage western = CodePage::named("windows-1252");
    static const CodePage japanese = CodePage::named("windows-932");
    if (size == 0) {
        return 0;
    }
    const CodePage& page = data[0] % 2 == 0 ? western : japanese;
    const Bytes bytes(data + 1, data + size);

    // Bytes to text: every windows-1252 byte has a character, and the text
    // goes back to the same bytes; in windows-932 the text is stable.
    try {
        const std::string text = page.toUtf8(bytes);
        const Bytes back = page.fromUtf8(text);
        if (&page == &western) {
            FUZZ_CHECK(back == bytes);
            FUZZ_CHECK(page.carriesUnchanged(bytes));
        } else {
            FUZZ_CHECK(page.toUtf8(back) == text);
        }
    } catch (const Failure&) {
        FUZZ_CHECK(&page == &japanese);
    }

    // Text to bytes: the input read as UTF-8.
    const std::string text(data + 1, data + size);
    try {
        const Bytes converted = page.fromUtf8(text);
        FUZZ_CHECK(page.toUtf8(converted) == text);
        const SingleByteText single = page.toSingleBytes(text);
        if (!single.offending) {
            FUZZ_CHECK(single.bytes == converted);
        }
    } catch (const Failure&) {
    }
    return 0;
}
