#pragma once

// The one record grammar of HP BASIC ASCII program files and of LIF ASCII
// files: a length word of 0 to 255, that many bytes, and after an odd count
// a pad byte; the length word FFFE is an empty line. A program file's
// records end at the mark 00 FF FF, a LIF ASCII file's at the length FFFF.
// A CR, LF or CR LF ending a record is no part of its line.

#include "core/base/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnook {

// How the records end: a program file's end mark, or a LIF ASCII file's
// length FFFF.
enum class RecordsEnd { EndMark, LengthFFFF };

// The bytes a record of that length takes: its length word, its bytes, a
// pad byte after an odd count.
constexpr std::size_t recordSize(std::size_t length)
{
    return 2 + length + (length & 1);
}

// What stands at an offset of the records.
struct RecordStep {
    enum class Kind {
        End, // the end of the records
        Empty, // the length word FFFE
        Record, // a length word other than those (above 255 it is no line)
        Cut, // the bytes end before a whole length word
    };
    Kind kind = Kind::Cut;
    std::size_t at = 0; // the offset of the step
    std::size_t length = 0; // Record: its length word
    std::size_t next = 0; // where the next step starts (after the pad byte)
    // A record whose bytes run past the end of the bytes.
    bool runsPast(std::size_t size) const { return kind == Kind::Record && at + 2 + length > size; }
};
RecordStep recordAt(ByteView bytes, std::size_t at, RecordsEnd end);

// Whether the CR or LF at k ends the record whose bytes end at end: its last
// byte, or a CR right before a last LF.
inline bool endsRecord(ByteView bytes, std::size_t k, std::size_t end)
{
    return k + 1 == end || (k + 2 == end && bytes[k] == 0x0D && bytes[k + 1] == 0x0A);
}

// Writes the length word before the length bytes at `at` and a zero after
// them (the pad byte when the count is odd): needs one byte of room after
// an even record. The record's size.
inline std::size_t frameRecord(std::uint8_t* at, std::size_t length)
{
    at[0] = 0x00;
    at[1] = static_cast<std::uint8_t>(length);
    at[2 + length] = 0x00;
    return recordSize(length);
}

// The lines of a record stream, in order (see readRecordLines): an ASCII
// file of a volume (programFile false), or the records of an HP BASIC ASCII
// program file after its header.
std::vector<ByteView> readRecords(ByteView stream, bool programFile = false);

// The lines as a bare LIF ASCII file, the content of an ASCII file of a
// volume: their records, FFFF, and zeros to a whole 256-byte block. Throws
// Failure for a line over 255 characters or one holding a byte the format
// cannot carry (00, FF).
Bytes asciiFileFromLines(const std::vector<ByteView>& lines);

// The records of an HP BASIC ASCII program file, unchanged, as the content
// of an ASCII file. Throws Failure for a file that breaks the format.
Bytes asciiFileFromProgramFile(ByteView file);

// Lines as program text, CR LF after each.
Bytes textFromLines(const std::vector<ByteView>& lines);

// The HP BASIC ASCII program file holding the lines. Throws Failure for a
// line over 255 characters or one holding 00 or FF.
Bytes programFileFromLines(const std::vector<ByteView>& lines);

// A departure from the format and the byte offset where it stands.
struct Finding {
    std::uint64_t offset = 0;
    std::string text;
    bool note = false; // worth knowing, yet no departure (an image shorter than its volume)
};

// Whether the header is a program file's: the whole 256 bytes, no more than
// 8 of them differing from the format's.
bool hasProgramHeader(ByteView bytes);

// Whether the length words chain from offset 0 to FFFF inside the bytes:
// true, false, or nothing when they run on past the end still chaining.
std::optional<bool> chainsToLifEnd(ByteView bytes);

// Every departure of an HP BASIC ASCII program file from the format, with
// its byte offset: header bytes that differ, length words above 255 or
// running past the end, zero or FF bytes inside a record, pad bytes that
// are not zero, a missing end mark, bytes after it. Empty when there is none.
std::vector<Finding> checkProgramFile(ByteView file);

// The same for the records of a LIF ASCII file, its bytes starting at
// offset base of what is checked; every finding begins with name.
std::vector<Finding> checkLifAsciiRecords(ByteView stream, std::uint64_t base = 0, const std::string& name = "");

} // namespace varnook
