#pragma once

#include "bytes.h"
#include "code_page.h"
#include "progress.h"

#include <optional>
#include <string>

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

// Reads a program file as program text: well-formed records up to the end
// mark decode as exactly those records, whatever follows (files copied off
// volumes are padded to whole blocks); other files decode as
// decodeHpAsciiBytes decodes them. CRs as settleCarriageReturns says.
Bytes decodeProgramFile(ByteView file, Progress* progress = nullptr);

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

// The message for a line too long for a record of HP BASIC ASCII.
std::string lineTooLongMessage(std::int64_t line, std::size_t length);

namespace detail {
// The byte-at-a-time decoder the vectorised one must agree with.
Bytes decodeHpAsciiBytesScalar(ByteView file);
} // namespace detail

} // namespace varnook
