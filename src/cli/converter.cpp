#include "converter.h"

#include "core/failure.h"
#include "core/hp_ascii.h"
#include "core/line_breaks.h"
#include "core/line_numbers.h"

#include <string>
#include <utility>

namespace varnook::cli {

Bytes convert(Bytes input, const Conversion& conversion, const CodePage& codePage, ConversionProgress* progress)
{
    const auto phase = [&](const char* name, std::size_t total) {
        if (progress != nullptr) {
            progress->phase(name, total);
        }
    };
    // Read: the file becomes document text, with the document area's line breaks.
    std::string document;
    if (conversion.from == Format::Hp) {
        if (input.empty()) {
            throw Failure("the file is empty");
        }
        phase("reading", input.size());
        const Bytes decoded = decodeHpAsciiBytes(std::exchange(input, {}), progress);
        document = normalizeLineBreaks(codePage.toUtf8(decoded));
    } else {
        document = normalizeLineBreaks(codePage.toUtf8(std::exchange(input, {})));
        if (conversion.lineNumbers) {
            phase("numbering", document.size());
            const Bytes numbered = insertLineNumberBytes(codePage.fromUtf8(document), conversion.start,
                                                         conversion.step, progress);
            document = normalizeLineBreaks(codePage.toUtf8(numbered));
        }
    }

    // Write.
    if (conversion.to == Format::Txt) {
        return codePage.fromUtf8(document);
    }
    SingleByteText single = codePage.toSingleBytes(document);
    std::string().swap(document);
    if (single.offending) {
        throw Failure("Error!! 2 byte character is contained! The character at " + describe(*single.offending) +
                      " is not a single byte in code page " + codePage.name());
    }
    phase("converting", single.bytes.size());
    return encodeHpAsciiBytes(single.bytes, progress);
}

} // namespace varnook::cli
