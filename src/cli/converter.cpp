#include "converter.h"

#include "core/failure.h"
#include "core/hp_ascii.h"
#include "core/hp_ascii_format.h"
#include "core/line_breaks.h"
#include "core/line_numbers.h"
#include "core/structure_check.h"

#include <algorithm>
#include <string>
#include <utility>

namespace varnook::cli {

namespace {

void announce(ConversionProgress* progress, const char* name, std::size_t total)
{
    if (progress != nullptr) {
        progress->phase(name, total);
    }
}

Bytes decodeInput(Bytes input, const Conversion& conversion, ConversionProgress* progress)
{
    if (conversion.from == Format::Txt) {
        return input;
    }
    if (input.empty()) {
        throw Failure("the file is empty");
    }
    announce(progress, "reading", input.size());
    try {
        return decodeProgramFile(input, progress);
    } catch (const DamagedRecords& e) {
        if (!conversion.lenient) {
            throw Failure(std::string(e.what()) + "; it is not read as it stands (--lenient reads it by the lenient "
                                                  "rule, --check lists every departure)");
        }
    }
    return decodeProgramFileLeniently(input, progress);
}

void refuseUncarriable(ByteView text)
{
    if (const auto position = findUncarriableByte(text)) {
        throw Failure(uncarriableByteMessage(*position));
    }
}

} // namespace

void refuseFormatMismatch(ByteView input, Format from)
{
    const FileKind kind = kindOf(input.first(std::min(input.size(), hp::kHeaderSize)));
    if (kind == FileKind::Volume) {
        throw Failure("this is a LIF disk image; list it with --list and read its programs with --volume");
    }
    if (from == Format::Hp && kind != FileKind::ProgramFile) {
        throw Failure("not an HP BASIC ASCII program file (its header differs); read it as text with --from txt");
    }
    if (from == Format::Txt && kind == FileKind::ProgramFile) {
        throw Failure("this is an HP BASIC ASCII program file, not text; read it with --from hp");
    }
}

Bytes convertThroughText(Bytes input, const Conversion& conversion, const CodePage& codePage,
                         ConversionProgress* progress)
{
    // Read: the file becomes document text, with the document area's line breaks.
    std::string document = normalizeLineBreaks(codePage.toUtf8(decodeInput(std::move(input), conversion, progress)));
    if (conversion.lineNumbers) {
        announce(progress, "numbering", document.size());
        const Bytes numbered =
            insertLineNumberBytes(codePage.fromUtf8(document), conversion.start, conversion.step, progress);
        document = normalizeLineBreaks(codePage.toUtf8(numbered));
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
    refuseUncarriable(single.bytes);
    announce(progress, "converting", single.bytes.size());
    return encodeHpAsciiBytes(single.bytes, progress);
}

Bytes convert(Bytes input, const Conversion& conversion, const CodePage& codePage, ConversionProgress* progress)
{
    Bytes bytes = decodeInput(std::move(input), conversion, progress);
    if (!codePage.carriesUnchanged(bytes)) {
        return convertThroughText(
            std::move(bytes), {Format::Txt, conversion.to, conversion.lineNumbers, conversion.start, conversion.step},
            codePage, progress);
    }
    // Every byte stands for one character and comes back as itself, so the
    // text steps can work on the bytes: the same result without two
    // conversions of the whole document.
    bytes = normalizeLineBreaks(std::move(bytes));
    if (conversion.lineNumbers) {
        announce(progress, "numbering", bytes.size());
        bytes = normalizeLineBreaks(insertLineNumberBytes(bytes, conversion.start, conversion.step, progress));
    }
    if (conversion.to == Format::Txt) {
        return bytes;
    }
    refuseUncarriable(bytes);
    announce(progress, "converting", bytes.size());
    return encodeHpAsciiBytes(bytes, progress);
}

} // namespace varnook::cli
