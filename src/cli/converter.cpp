#include "converter.h"

#include "core/base/failure.h"
#include "core/program/hp_ascii.h"
#include "core/program/hp_ascii_format.h"
#include "core/lif/lif.h"
#include "core/text/line_breaks.h"
#include "core/text/line_numbers.h"
#include "core/lif/structure_check.h"

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
    if (conversion.from == Format::LifAscii) {
        // The same text as the program file of those records gives.
        return textFromLines(readRecords(input));
    }
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
    const FileKind kind = kindOf(input);
    if (kind == FileKind::Volume) {
        throw Failure("this is a LIF disk image; list it with --list and read its programs with --volume");
    }
    const FileKind wanted = from == Format::Hp         ? FileKind::ProgramFile
                            : from == Format::LifAscii ? FileKind::LifAscii
                                                       : FileKind::Other;
    if (kind == wanted) {
        return;
    }
    const std::string notText = from == Format::Txt ? ", not text" : "";
    if (kind == FileKind::ProgramFile) {
        throw Failure("this is an HP BASIC ASCII program file" + notText + "; read it with --from hp");
    }
    if (kind == FileKind::LifAscii) {
        throw Failure("this is a bare LIF ASCII file (records ended by FFFF, no header)" + notText +
                      "; read it with --from lif-ascii");
    }
    throw Failure(from == Format::Hp ? "not an HP BASIC ASCII program file (its header differs); read it as text with "
                                       "--from txt"
                                     : "not a bare LIF ASCII file (its records do not chain to the end mark FFFF from "
                                       "its first byte); read it as text with --from txt");
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
    if (conversion.to == Format::LifAscii) {
        // The program file's records, with the end mark of a volume's file.
        Conversion toHp = conversion;
        toHp.to = Format::Hp;
        return asciiFileFromProgramFile(convert(std::move(input), toHp, codePage, progress));
    }
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
