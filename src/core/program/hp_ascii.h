#pragma once

#include "core/base/bytes.h"
#include "core/text/code_page.h"
#include "core/base/failure.h"
#include "core/base/progress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnook {

// Turns the bytes of an HP BASIC ASCII program file into the program's bytes
// in the code page, a CR LF after every line. Finds line boundaries from the
// zero bytes of length words and pad bytes; drops every FF; validates nothing
// else. Throws Failure when the file ends inside a length word or is 2 GiB or
// larger. Reports read positions from 258 on.
Bytes decodeHpAsciiBytes(ByteView file, Progress* progress = nullptr);
// The same into a buffer whose memory is reused.
void decodeHpAsciiBytes(ByteView file, Bytes& out, Progress* progress = nullptr);

// Where the records of a program file end, well formed from the header on
// (length words of 00 LL, zero pad bytes) up to the end mark 00 FF FF: just
// after the end mark; the file's size when they are not well formed.
std::size_t wellFormedEnd(ByteView file);

// Decoded program text whose lines end in CR LF: a CR right before a line's
// CR LF (the last byte of its record) is dropped; any other CR fails,
// naming the line.
void settleCarriageReturns(Bytes& text);

// A stream of records that is not read as it stands: the offset of its first
// departure and what it is ("the file ends inside line 12").
class DamagedRecords : public Failure {
public:
    DamagedRecords(std::uint64_t at, const std::string& text)
        : Failure("offset " + std::to_string(at) + ": " + text),
          offset(at),
          departure(text)
    {
    }
    std::uint64_t offset;
    std::string departure;
};

// The one record grammar of HP BASIC ASCII program files and of LIF ASCII
// files: from `from`, length words of 0 to 255 each followed by that many
// bytes and, after an odd count, a pad byte (skipped whatever it holds); a
// length word FFFE is an empty line. The records end at 00 FF FF
// (programFile) or at the length FFFF. A CR, LF or CR LF ending a record is
// no part of its line. Throws DamagedRecords for a stream that breaks the
// grammar and for a record holding 00, FF, or a CR or LF before its end,
// naming the line (its place and the line number it starts with). The end
// of the records: after their end mark.
std::size_t readRecordLines(ByteView bytes, std::size_t from, bool programFile, std::vector<ByteView>& lines,
                            Progress* progress = nullptr);

// Reads a program file exactly as it is stored: its records up to the end
// mark, each a line with CR LF after it; what follows the end mark is no
// part of it (files copied off volumes are padded to whole blocks). Throws
// DamagedRecords for any other file (see readRecordLines).
Bytes decodeProgramFile(ByteView file, Progress* progress = nullptr);

// What the lenient rule makes of any file: the records as far as they are
// well formed, the rest as decodeHpAsciiBytes decodes it (a NUL ends a line,
// FF is dropped). CRs as settleCarriageReturns says. Only when the user asks
// for it: it does not read a damaged file as it stands.
Bytes decodeProgramFileLeniently(ByteView file, Progress* progress = nullptr);

// Builds the complete HP BASIC ASCII file for program text given as bytes in
// the code page, lines ended by CR (a LF right after a CR belongs to it).
// Throws Failure for an empty text or a line of more than 255 characters.
// Reports the start position of lines.
Bytes encodeHpAsciiBytes(ByteView text, Progress* progress = nullptr);
void encodeHpAsciiBytes(ByteView text, Bytes& out, Progress* progress = nullptr);

// Where program text (bytes in the code page, lines ended by CR LF, CR or
// LF) holds the first byte an HP BASIC ASCII file cannot carry back: 00,
// which would end its record, or FF, which reading drops. Nothing when the
// text has neither.
std::optional<TextPosition> findUncarriableByte(ByteView text);

// The message that names such a byte's place.
std::string uncarriableByteMessage(const TextPosition& position);

// The message for a line too long for a record of HP BASIC ASCII. It
// names the line by its place and by how it begins ("line 20 (190 PRINT
// ...) is 302 characters long"), so that it can be found by its number too.
std::string lineTooLongMessage(std::int64_t line, ByteView text);

// Throws the encoder's Failure for an empty text or for the first line it
// could not carry as too long, before anything is written.
void requireLinesFit(ByteView text);

namespace detail {
// The byte-at-a-time decoder the vectorised one must agree with.
Bytes decodeHpAsciiBytesScalar(ByteView file);
} // namespace detail

} // namespace varnook
