#include "core/base/failure.h"
#include "core/program/hp_ascii.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <vector>

using namespace varnook;
using namespace varnook::test;

namespace {

// The records after the header, as hex; or the failure.
std::string encoded(std::string_view text)
{
    return outcome([&] {
        const Bytes file = encodeHpAsciiBytes(bytesOf(text));
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 256), header());
        return Bytes(file.begin() + 256, file.end());
    });
}

// The file for the text with zeros after its end mark.
Bytes padded(std::string_view text, std::size_t zeros)
{
    Bytes file = encodeHpAsciiBytes(bytesOf(text));
    file.resize(file.size() + zeros, 0x00);
    return file;
}

} // namespace

TEST(HpAsciiEncoder, TextsGiveTheDocumentedRecords)
{
    const std::pair<std::string, std::string> cases[] = {
        {"10 BEEP\r\n20 END", "00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF"},
        {"10 BEEP\r\n20 END\r\n", "00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF"},
        {"10 A", "00 04 31 30 20 41 00 FF FF"},
        {"\r\n", "00 00 00 FF FF"},
        {"\r", "00 00 00 FF FF"},
        {"\r\nA", "00 00 00 01 41 00 00 FF FF"}, // leading empty record
        {"A\nB", "00 03 41 0A 42 00 00 FF FF"}, // a lone LF is a character
        {"A\rB", "00 01 41 00 00 01 42 00 00 FF FF"}, // a lone CR ends the line, B stays
        {"A\r", "00 01 41 00 00 FF FF"},
        {"A\tB\x01", "00 04 41 09 42 01 00 FF FF"}, // control characters kept
        {"AB\r\n\r\nCD", "00 02 41 42 00 00 00 02 43 44 00 FF FF"}, // empty line after an even one
        {"\r\n\r\n\r\nA\r\n\r\n\r\n\r\nBB\r\n\r\n\r\n",
         "00 00 00 00 00 00 00 01 41 00 00 00 00 00 00 00 00 02 42 42 00 00 00 00 00 FF FF"},
    };
    for (const auto& [text, records] : cases) {
        EXPECT_EQ(encoded(text), textOf(hex(records))) << text;
    }
    EXPECT_EQ(encoded(std::string(255, 'X')).size(), 2 + 255 + 1 + 3u);
    // A line too long is named by its place and how it begins, and refused
    // alike before encoding.
    const std::pair<std::string, std::string> refused[] = {
        {"10 OK\r\n190 PRINT \"" + std::string(290, 'Y'),
         "failure: line 2 (190 PRINT \"YYYYY...) is 301 characters long; HP BASIC ASCII allows at most 255"},
        {"10 OK\r20 PRINT \"\xB5" + std::string(300, 'x'),
         "failure: line 2 (20 PRINT \"...) is 311 characters long; HP BASIC ASCII allows at most 255"},
        {"\r\n\r\n" + std::string(100000, 'Z'), "failure: line 3 (ZZZZZZZZZZZZZZZZ...) is 100000 characters long"},
        {"", "failure: the document is empty"},
        {"10 A\r\n" + std::string(255, 'B') + "\r\n", ""},
    };
    for (const auto& [text, failure] : refused) {
        const std::string early = outcome([&, &text = text] {
            requireLinesFit(bytesOf(text));
            return Bytes{};
        });
        // Nothing refused: nothing thrown. Else the encoder's own failure.
        EXPECT_EQ(failure.empty() ? early : early.substr(0, failure.size()), failure);
        if (!failure.empty()) {
            EXPECT_EQ(encoded(text).substr(0, failure.size()), failure);
        }
    }
}

TEST(HpAsciiEncoder, FindsWhatTheFormatCannotCarry)
{
    EXPECT_FALSE(findUncarriableByte(bytesOf("10 A\r\n20 B\xFE")));
    const std::pair<std::string, std::string> cases[] = {
        {std::string("10 A\r\n20 B\0", 11), "line 2, column 5"},
        {"A\rB\nC\r\n\xFF", "line 4, column 1"},
        {std::string(100, 'x') + "\xFF", "line 1, column 101"},
    };
    for (const auto& [text, place] : cases) {
        const auto position = findUncarriableByte(bytesOf(text));
        EXPECT_EQ(position ? describe(*position) : "none", place);
    }
}

TEST(HpAsciiDecoder, FilesGiveTheirText)
{
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes{}, ""},
        {Bytes(1, 0x41), ""},
        {Bytes(258, 0x00), ""},
        {hpFile("00 01 41 00 00"), "A\r\n"}, // a zero pair ends the file
        {hpFile("00 02 FF 41 FF 42 FF"), "AB"}, // FF dropped
        {padded("A", 5), "A\r\n\r\n\r\n"}, // odd offset: pad and length word; even: empty record
        {padded("10 END", 245), "10 END\r\n..."}, // to a 512-byte sector, as on disk images
        {padded("A", 6), "failure: the file ends inside a length word..."}, // an even run leaves one
        {bytesOf(std::string(258, 'h') + "10 PRINT\r\n"), "10 PRINT\r\n"}, // plain text loses 258 bytes
    };
    // "..." at the end: the result starts so.
    for (const auto& row : cases) {
        const auto& [file, text] = row;
        const std::string got = outcome([&] { return decodeHpAsciiBytes(row.first); });
        const bool prefix = text.ends_with("...");
        EXPECT_EQ(prefix ? got.substr(0, text.size() - 3) + "..." : got, text) << file.size() << " bytes";
    }
}

// Read as a program file: the records are all there is, whatever follows
// them, each line exactly as stored (a CR, LF or CR LF ending it dropped,
// its pad byte skipped, FFFE an empty line); anything else is refused at
// its first departure, and read by the lenient rule only when asked.
TEST(HpAsciiDecoder, ProgramFilesReadExactlyAsStored)
{
    const std::tuple<Bytes, std::string, std::string> cases[] = {
        // file, read, read leniently ("=": the same)
        {hpFile("00 02 41 0D 00 FF FF 00"), "A\r\n", "="},
        {hpFile("00 04 31 30 0D 0A 00 03 32 30 0A 07 00 FF FF"), "10\r\n20\r\n", "10\r\n\r\n20\n\a\r\n"},
        {hpFile("FF FE 00 01 41 20 00 FF FF"), "\r\nA\r\n", "\r\nA \r\n"},
        {hpFile("00 06 31 30 20 41 00 42 00 FF FF"), "failure: offset 262: line 1 (number 10) holds byte 00...",
         "10 A\r\n\r\n"},
        {hpFile("00 03 41 0A 42 00 00 FF FF"), "failure: offset 259: line 1 holds a LF...", "A\nB\r\n"},
        {hpFile("00 02 41 0D 00 02 0D 42 00 FF FF"), "failure: offset 262: line 2 holds a CR...",
         "failure: line 3 holds a CR..."},
        {hpFile("00 02 41 42 00 05 31 30"),
         "failure: offset 260: the file ends inside line 2, a record of 5 bytes from offset 262", "AB\r\n10"},
        {hpFile("00 02 41 42 01 00 31 30"),
         "failure: offset 260: length word 0100, after line 1, is no record length (0 to 255, or FFFE)", "AB\x01\r\n0"},
        {hpFile("00 02 41 42 00"), "failure: offset 260: the file ends inside a length word, after line 1",
         "failure: the file ends inside a length word (zero byte at offset 260..."},
        {hpFile("00 02 41 42"), "failure: offset 260: the records end without an end mark (00 FF FF), after line 1",
         "AB"},
        {Bytes(100, 0x00), "failure: offset 100: the file ends inside its 256-byte header", ""},
    };
    // "..." at the end: the result starts so.
    const auto expect = [](const std::string& got, const std::string& text, std::size_t row) {
        EXPECT_EQ(text.ends_with("...") ? got.substr(0, text.size() - 3) + "..." : got, text) << "row " << row;
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto& [file, text, lenient] = cases[row];
        expect(outcome([&file = file] { return decodeProgramFile(file); }), text, row);
        expect(outcome([&file = file] { return decodeProgramFileLeniently(file); }), lenient == "=" ? text : lenient,
               row);
    }
}

TEST(HpAsciiDecoder, ReportsProgressFromTheFirstCharacterAtLeastEvery64KiB)
{
    RecordedProgress progress;
    Bytes file = encodeHpAsciiBytes(bytesOf(std::string(200, 'A') + "\r\n" + std::string(200, 'B')));
    file.resize(300000, 0x41); // text after the end mark is read on
    decodeHpAsciiBytes(file, &progress);
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_EQ(progress.positions.front(), 258);
    std::int32_t last = 258;
    for (const auto position : progress.positions) {
        EXPECT_LE(position - last, kProgressStride + 16);
        last = position;
    }
    EXPECT_GE(last, 300000 - kProgressStride - 16);
}
