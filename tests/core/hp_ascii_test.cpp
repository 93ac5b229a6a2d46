#include "core/failure.h"
#include "core/hp_ascii.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;

namespace {

Bytes encode(std::string_view text)
{
    return encodeHpAsciiBytes(bytesOf(text));
}

std::string decode(const Bytes& file)
{
    return textOf(decodeHpAsciiBytes(file));
}

Bytes tail(const Bytes& file)
{
    return Bytes(file.begin() + 256, file.end());
}


class RecordingProgress : public Progress {
public:
    void reached(std::int32_t index) override { positions.push_back(index); }
    std::vector<std::int32_t> positions;
};

} // namespace

TEST(HpAsciiWorkedExample, EncodesTheTwoLineProgramByteForByte)
{
    const Bytes expected = hpFile("00 07 31 30 20 42 45 45 50 00 00 06 32 30 20 45 4E 44 00 FF FF");
    ASSERT_EQ(expected.size(), 277u);
    EXPECT_EQ(encode("10 BEEP\r\n20 END"), expected);
    EXPECT_EQ(encode("10 BEEP\r\n20 END\r\n"), expected);
    EXPECT_EQ(decode(expected), "10 BEEP\r\n20 END\r\n");
}

TEST(HpAsciiEncoder, SmallTextsGiveTheDocumentedFiles)
{
    const Bytes single = encode("10 A");
    EXPECT_EQ(single.size(), 265u);
    EXPECT_EQ(tail(single), hex("00 04 31 30 20 41 00 FF FF"));
    EXPECT_EQ(decode(single), "10 A\r\n");

    const Bytes empty = encode("\r\n");
    EXPECT_EQ(empty.size(), 261u);
    EXPECT_EQ(tail(empty), hex("00 00 00 FF FF"));

    EXPECT_EQ(tail(encode("\r\nA")), hex("00 00 00 01 41 00 00 FF FF")) << "leading empty record";
    EXPECT_EQ(tail(encode("A\nB")), hex("00 03 41 0A 42 00 00 FF FF")) << "a lone LF is a character";
    EXPECT_EQ(tail(encode("A\tB\x01")), hex("00 04 41 09 42 01 00 FF FF")) << "control characters kept";
    EXPECT_EQ(tail(encode("\xFF")), hex("00 01 FF 00 00 FF FF")) << "FF is written";
}

TEST(HpAsciiEncoder, LoneCrEndsTheLineWithoutLosingTheNextCharacter)
{
    EXPECT_EQ(tail(encode("A\rB")), hex("00 01 41 00 00 01 42 00 00 FF FF"));
    EXPECT_EQ(encode("A\r"), encode("A\r\n")) << "a CR at the very end ends the last line";
    EXPECT_EQ(tail(encode("\r")), hex("00 00 00 FF FF"));
}

TEST(HpAsciiEncoder, LineLengthLimitIs255)
{
    const std::string longest(255, 'X');
    const Bytes file = encode(longest);
    EXPECT_EQ(file[256], 0x00);
    EXPECT_EQ(file[257], 0xFF);
    EXPECT_EQ(file.size(), 256u + 2 + 255 + 1 + 3);
    EXPECT_EQ(decode(file), longest + "\r\n");

    EXPECT_THAT(failureOf([] { encode("10 OK\r\n" + std::string(256, 'Y') + "\r\n30 END"); }),
                HasSubstr("line 2 is 256 characters long"));
    EXPECT_THAT(failureOf([] { encode(std::string(100000, 'Z')); }), HasSubstr("line 1 is 100000 characters long"));
}

TEST(HpAsciiEncoder, EmptyTextFails)
{
    EXPECT_THAT(failureOf([] { encode(""); }), HasSubstr("empty"));
}

TEST(HpAsciiEncoder, ManyEmptyLinesAnywhere)
{
    const std::string text = "\r\n\r\n\r\nA\r\n\r\n\r\n\r\nBB\r\n\r\n\r\n";
    const Bytes file = encode(text);
    EXPECT_EQ(tail(file), hex("00 00 00 00 00 00 00 01 41 00 00 00 00 00 00 00 00 02 42 42 00 00 00 00 00 FF FF"));
    EXPECT_EQ(decode(file), text);
}

TEST(HpAsciiDecoder, EmptyLineAfterEvenLineSurvives)
{
    // AB, an empty line, CD: the zero pair at an even offset is the empty record.
    const Bytes file = encode("AB\r\n\r\nCD");
    EXPECT_EQ(tail(file), hex("00 02 41 42 00 00 00 02 43 44 00 FF FF"));
    EXPECT_EQ(decode(file), "AB\r\n\r\nCD\r\n");
    EXPECT_EQ(decode(encode("A\r\n\r\nB")), "A\r\n\r\nB\r\n") << "after an odd line";
    EXPECT_EQ(decode(encode("\r\n\r\nX")), "\r\n\r\nX\r\n") << "two empty lines first";
}

TEST(HpAsciiDecoder, ShortFilesGiveEmptyText)
{
    EXPECT_EQ(decode(Bytes{}), "");
    EXPECT_EQ(decode(Bytes(1, 0x41)), "");
    EXPECT_EQ(decode(Bytes(258, 0x00)), "");
}

TEST(HpAsciiDecoder, ZeroBytesMakeLineBreaks)
{
    EXPECT_EQ(decode(hpFile("00 00 00 03 41 42 43 00 00 FF FF")), "\r\nABC\r\n") << "empty first line";
    EXPECT_EQ(decode(hpFile("00 01 41 00 00")), "A\r\n") << "zero pair ends the file";
    EXPECT_EQ(decode(hpFile("00 02 FF 41 FF 42 FF")), "AB") << "FF dropped";
}

TEST(HpAsciiDecoder, ZerosAfterTheEndMarkReadAsLineBreaks)
{
    // A zero pair at an odd offset is a pad byte and a length word (three
    // bytes), at an even offset an empty record (two bytes).
    Bytes padded = encode("A");
    padded.resize(padded.size() + 5, 0x00);
    EXPECT_EQ(decode(padded), "A\r\n\r\n\r\n");
    // Padded to a whole sector, as files from disk images are: no failure.
    padded = encode("10 END");
    padded.resize(512, 0x00);
    EXPECT_EQ(decode(padded).substr(0, 8), "10 END\r\n");
    // An even run leaves one zero at the last byte.
    padded = encode("A");
    padded.resize(padded.size() + 6, 0x00);
    EXPECT_THAT(failureOf([&] { decodeHpAsciiBytes(padded); }), HasSubstr("ends inside a length word"));
}

TEST(HpAsciiDecoder, ZeroAtTheLastByteFails)
{
    const Bytes file = hpFile("00 02 41 42 00");
    EXPECT_THAT(failureOf([&] { decodeHpAsciiBytes(file); }), HasSubstr("ends inside a length word"));
    EXPECT_THAT(failureOf([&] { decodeHpAsciiBytes(file); }), HasSubstr("offset 260"));
}

TEST(HpAsciiDecoder, PlainTextLosesItsFirst258Bytes)
{
    std::string text(258, 'h');
    text += "10 PRINT \"HI\"\r\n20 END\r\n";
    EXPECT_EQ(decode(bytesOf(text)), "10 PRINT \"HI\"\r\n20 END\r\n");
}

TEST(HpAsciiDecoder, ReportsProgressFromTheFirstCharacterAtLeastEvery64KiB)
{
    Bytes file = encode(std::string(200, 'A') + "\r\n" + std::string(200, 'B'));
    file.resize(300000, 0x41); // text after the end mark is read on
    RecordingProgress progress;
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

// Random programs: every byte but CR, lines of 0 to 255 characters, empty
// lines after even and odd lines.
TEST(HpAsciiRoundTrip, RandomProgramsComeBackWithAFinalLineBreak)
{
    std::mt19937 random(20261206);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int lines = 1 + static_cast<int>(random() % 60);
        for (int line = 0; line < lines; ++line) {
            const int kind = static_cast<int>(random() % 10);
            const std::size_t length = kind == 0 ? 0 : kind == 1 ? 255 : random() % 80;
            for (std::size_t k = 0; k < length; ++k) {
                std::uint8_t c = static_cast<std::uint8_t>(1 + random() % 254);
                text += static_cast<char>(c == 0x0D ? 'x' : c);
            }
            if (line + 1 < lines || random() % 2 == 0) {
                text += "\r\n";
            }
        }
        if (text.empty()) {
            continue;
        }
        const Bytes file = encode(text);
        ASSERT_EQ(file.size() % 2, 1u);
        ASSERT_EQ(Bytes(file.end() - 3, file.end()), hex("00 FF FF"));
        const std::string expected = text.ends_with("\r\n") ? text : text + "\r\n";
        ASSERT_EQ(decode(file), expected) << "round " << round;
    }
}

// The vectorised decoder must agree with the byte-at-a-time one, on good
// files and on garbage with many zeros and FF at every alignment.
TEST(HpAsciiDecoder, VectorisedAgreesWithScalar)
{
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        Bytes file(258 + random() % 2000);
        const int zeroShare = static_cast<int>(random() % 40);
        for (auto& byte : file) {
            const int pick = static_cast<int>(random() % 100);
            byte = pick < zeroShare ? 0x00 : pick < zeroShare + 5 ? 0xFF : static_cast<std::uint8_t>(random());
        }
        std::string vectorised;
        std::string scalar;
        try {
            vectorised = textOf(decodeHpAsciiBytes(file));
        } catch (const Failure& e) {
            vectorised = std::string("failure: ") + e.what();
        }
        try {
            scalar = textOf(detail::decodeHpAsciiBytesScalar(file));
        } catch (const Failure& e) {
            scalar = std::string("failure: ") + e.what();
        }
        ASSERT_EQ(vectorised, scalar) << "round " << round;
    }
}
