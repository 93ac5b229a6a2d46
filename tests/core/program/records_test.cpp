#include "core/program/hp_ascii.h"
#include "core/program/records.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;

// A volume's ASCII file ends at FFFF (the record grammar is the program
// file's: hp_ascii_test); what a program file cannot hold is refused.
TEST(Records, ReadStrictlyAndWriteWithinTheLimits)
{
    const std::pair<Bytes, std::string> streams[] = {
        {hex("00 01 41 00 FF FE 00 00 00 02 42 43 FF FF 12 34"), "A\r\n\r\n\r\nBC\r\n"},
        {hex("00 01 41 00"), "failure: offset 4: the records end without an end mark (FFFF), after line 1"},
    };
    for (const auto& [stream, text] : streams) {
        EXPECT_EQ(outcome([&stream = stream] { return textFromLines(readRecords(stream)); }), text);
    }
    const Bytes program = hpFile("00 07 31 30 20 42 45 45 50 00 00 00 00 FF FF");
    const Bytes file = asciiFileFromProgramFile(program);
    EXPECT_EQ(file.size(), 256u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), hex("00 07 31 30 20 42 45 45 50 00 00 00 FF FF 00 00"));
    EXPECT_EQ(programFileFromLines(readRecords(file)), program) << "only the end mark changes";
    const Bytes longLine(300, 'L');
    const Bytes ok = bytesOf("10 A");
    const Bytes withFF = bytesOf("10 A\xFF");
    EXPECT_EQ(failureOf([&] { programFileFromLines({longLine}); }),
              "line 1 (LLLLLLLLLLLLLLLL...) is 300 characters long; HP BASIC ASCII allows at most 255");
    EXPECT_THAT(failureOf([&] { programFileFromLines({ok, withFF}); }), HasSubstr("line 2, column 5"));
    EXPECT_THAT(failureOf([&] { asciiFileFromProgramFile(hpFile("00 02 41 42")); }),
                HasSubstr("without an end mark (00 FF FF)"));
}

// Every departure of a program file with its offset; nothing for a clean one.
TEST(StructureCheck, FindsEveryDepartureOfAProgramFile)
{
    EXPECT_TRUE(checkProgramFile(hpFile("00 03 41 42 43 00 00 00 00 FF FF")).empty());
    Bytes header = hpFile("00 01 41 00 00 FF FF");
    header[3] = 0x02;
    const std::pair<Bytes, std::string> cases[] = {
        {header, "3: header byte 02, expected 01"},
        {hpFile("00 03 41 FF 00 07 00 FF FF 00 00"),
         "259: byte FF inside a record | 260: byte 00 inside a record | note 261: pad byte 07 is not zero (skipped on "
         "reading) | 265: 2 bytes after the end mark"},
        {hpFile("01 00 41"),
         "256: length word 0100 is above 255 | 256: the length word (256) runs past the end of the file"},
        {hpFile("00 01 41 00"), "260: no end mark (00 FF FF)"},
        {bytesOf("10 PRINT\r\n"),
         "0: not an HP BASIC ASCII program file: 10 of the first 10 bytes differ from the header"},
        {hpFile("00 03 41 0D 42 00 00 02 43 0D 00 03 44 0A 45 00 00 02 46 0A FF FE 00 FF FF"),
         "259: CR inside a record (a line cannot hold it) | 265: CR at the end of a record (dropped on reading) | "
         "269: LF inside a record (a line cannot hold it) | 275: LF at the end of a record (dropped on reading) | "
         "note 276: length word FFFE: an empty line, as LIF ASCII files have them"},
    };
    for (const auto& [file, expected] : cases) {
        EXPECT_EQ(findingsText(checkProgramFile(file)), expected);
    }
}

// A LIF ASCII file damaged at every record: the findings stop at a hundred
// and say how many were left out, never that its end mark is missing.
TEST(StructureCheck, ManyDeparturesAreCountedNotInvented)
{
    Bytes stream;
    for (int i = 0; i < 150; ++i) {
        const Bytes record = hex("00 01 FF 00");
        stream.insert(stream.end(), record.begin(), record.end());
    }
    stream.push_back(0xFF), stream.push_back(0xFF);
    const auto findings = checkLifAsciiRecords(stream, 512, "ASCII file A: ");
    ASSERT_EQ(findings.size(), 101u);
    EXPECT_EQ(findings.front().offset, 514u);
    EXPECT_EQ(findings.back().text, "50 more findings left out");
}
