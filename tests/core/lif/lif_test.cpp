#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "core/lif/lif.h"
#include "core/lif/structure_check.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using namespace varnook;
using namespace varnook::test;
using ::testing::HasSubstr;

namespace {

const lif::Date kDate = {0x26, 0x12, 0x07, 0x10, 0x30, 0x00};

Bytes asciiFile(std::string_view text)
{
    return asciiFileFromProgramFile(encodeHpAsciiBytes(bytesOf(text)));
}

// A volume of the blocks with one directory block (8 entries) and the files.
Bytes volumeWith(std::initializer_list<std::pair<const char*, std::string>> files, std::uint32_t blocks = 40)
{
    Bytes image = lif::newVolumeImage("TEST", blocks, 1, kDate);
    for (const auto& [name, text] : files) {
        lif::putFile(image, name, asciiFile(text), kDate);
    }
    return image;
}

// Name, start block and length of every file, and the free blocks.
std::string listing(const Bytes& image)
{
    const lif::Volume volume = lif::parseImage(image);
    std::string text;
    for (const auto& file : volume.files) {
        text += file.name + "@" + std::to_string(file.start) + "+" + std::to_string(file.blocks) + " ";
    }
    return text + "free " + std::to_string(volume.freeBlocks());
}

std::string textOfFile(const Bytes& image, const char* name)
{
    const lif::Volume volume = lif::parseImage(image);
    const lif::Entry* entry = volume.find(name);
    if (entry == nullptr) {
        return "(none)";
    }
    const ByteView blocks = ByteView(image).subspan(entry->start * 256, entry->blocks * 256);
    return textOf(textFromLines(readRecords(blocks)));
}

// Entry slot's field at offset set to the 4-byte value.
void setEntry(Bytes& image, std::size_t slot, std::size_t offset, std::uint32_t value, std::size_t size = 4)
{
    for (std::size_t i = 0; i < size; ++i) {
        image.at(512 + slot * 32 + offset + i) = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
    }
}

} // namespace

// Adding, replacing (the new version in free space, its entry over the old
// one's), freed gaps reused, names at 10 characters: every file reads back.
TEST(LifVolume, FilesAreAddedReplacedAndReadBack)
{
    const std::string line = "10 " + std::string(250, 'b') + "\r\n";
    Bytes image = volumeWith({{"A", "10 A"}, {"BBBBBBBBBB", line + line}, {"C", "30 C\r\n\r\n40 D"}});
    EXPECT_EQ(listing(image), "A@3+1 BBBBBBBBBB@4+3 C@7+1 free 32");
    EXPECT_EQ(textOfFile(image, "C"), "30 C\r\n\r\n40 D\r\n");
    lif::putFile(image, "BBBBBBBBBB", asciiFile("20 SHORT"), kDate); // never over the old version
    EXPECT_EQ(listing(image), "A@3+1 BBBBBBBBBB@8+1 C@7+1 free 34");
    lif::putFile(image, "A", asciiFile(line + line), kDate); // into the old B's gap
    lif::putFile(image, "E", asciiFile("50 E"), kDate); // the old A's gap
    EXPECT_EQ(listing(image), "A@4+3 BBBBBBBBBB@8+1 C@7+1 E@3+1 free 31");
    // Another tool's file in a gap, its entry last: read, and its blocks kept free of new files.
    image.resize(40 * 256);
    setEntry(image, 2, 12, 10), setEntry(image, 4, 0, 0x58202020), setEntry(image, 4, 10, 0x0001, 2);
    setEntry(image, 4, 12, 7), setEntry(image, 4, 16, 1), setEntry(image, 5, 10, 0xFFFF, 2);
    lif::putFile(image, "F", asciiFile("60 F"), kDate);
    EXPECT_EQ(listing(image), "A@4+3 BBBBBBBBBB@8+1 C@10+1 E@3+1 X@7+1 F@9+1 free 29");
    EXPECT_EQ(textOfFile(image, "A"), line + line);
    EXPECT_EQ(textOfFile(image, "BBBBBBBBBB"), "20 SHORT\r\n");
    const auto volume = lif::parseImage(image);
    EXPECT_EQ(volume.label + " " + lif::formatDate(volume.files[0].date), "TEST 2026-12-07 10:30:00");
    EXPECT_EQ(volume.endSlot, 6u);
}

// Every refusal names its reason and leaves the image as it was.
TEST(LifVolume, RefusalsSayWhyAndChangeNothing)
{
    using Change = std::function<void(Bytes&)>;
    const Change none = [](Bytes&) {};
    const std::string line = "10 " + std::string(250, 'z') + "\r\n";
    std::string eightBlocks;
    for (int i = 0; i < 8; ++i) {
        eightBlocks += line + line;
    }
    struct Case {
        Change damage;
        std::string name, text, message;
    };
    const Case cases[] = {
        {none, "1ABC", "10 A", "not a valid LIF file name"},
        {none, "ABCDEFGHIJK", "10 A", "not a valid LIF file name"},
        {none, "A.B", "10 A", "not a valid LIF file name"},
        {none, "NEW", eightBlocks + eightBlocks + eightBlocks + eightBlocks, "the volume is full: NEW needs 65 blocks"},
        {[](Bytes& i) { i[0] = 0x88; }, "NEW", "10 A", "not a LIF volume"},
        {[](Bytes& i) { i[19] = 200; }, "NEW", "10 A", "lies outside the image"},
        {[](Bytes& i) { setEntry(i, 1, 12, 3); }, "NEW", "10 A", "file A (blocks 3 to 4) overlaps file B"},
        {[](Bytes& i) { setEntry(i, 1, 16, 90); }, "NEW", "10 A", "file B (blocks 4 to 94) lies outside"},
        {[](Bytes& i) { setEntry(i, 0, 10, 0xE008, 2); }, "A", "10 A", "file of type E008, not an ASCII file"},
        {[](Bytes& i) { // eight live entries: no end entry, no free one
             for (std::size_t slot = 2; slot < 8; ++slot) {
                 setEntry(i, slot, 0, 0x43300000u + static_cast<std::uint32_t>(slot << 16)),
                     setEntry(i, slot, 10, 0x0001, 2);
                 setEntry(i, slot, 12, 5), setEntry(i, slot, 16, 0);
             }
         },
         "NEW", "10 A", "the volume's directory is full (8 entries)"},
    };
    for (const auto& c : cases) {
        Bytes image = volumeWith({{"A", "10 A"}, {"B", "20 B"}});
        c.damage(image);
        const Bytes before = image;
        EXPECT_THAT(failureOf([&] { lif::putFile(image, c.name, asciiFile(c.text), kDate); }), HasSubstr(c.message))
            << c.message;
        EXPECT_EQ(image, before) << c.message;
    }
}

TEST(LifDates, ShowCenturiesAndUnknownBytes)
{
    const std::pair<lif::Date, std::string> dates[] = {
        {{0x70, 0x01, 0x01, 0, 0, 0}, "1970-01-01 00:00:00"},
        {{0x69, 0x01, 0x01, 0, 0, 0}, "2069-01-01 00:00:00"},
        {{0, 0, 0, 0, 0, 0}, "-"},
        {{0x26, 0x99, 0x01, 0, 0, 0}, "unknown"}, // BCD, but no month
    };
    for (const auto& [date, text] : dates) {
        EXPECT_EQ(lif::formatDate(date), text);
    }
}

// Every departure with its offset; nothing for clean files; a note for an
// image shorter than its volume.
TEST(StructureCheck, FindsEveryDeparture)
{
    Bytes volume = volumeWith({{"A", "10 A"}, {"B", "20 B"}});
    const Bytes shortImage = volume;
    volume.resize(40 * 256);
    EXPECT_TRUE(checkVolumeImage(volume).empty());
    Bytes unterminated = volume;
    unterminated[4 * 256 + 6] = unterminated[4 * 256 + 7] = 0x00; // B's FFFF
    Bytes odd = volume; // B named A, A's date not BCD, A's line "10 A" as FF "0 " CR, a geometry of 2^96 blocks
    setEntry(odd, 1, 0, 0x41202020), setEntry(odd, 0, 21, 0x1A, 1), setEntry(odd, 0, 0, 0x41202020);
    odd[3 * 256 + 2] = 0xFF, odd[3 * 256 + 5] = 0x0D;
    std::fill(odd.begin() + 24, odd.begin() + 36, 0xFF);
    const std::pair<Bytes, std::string> cases[] = {
        {shortImage, "note 1280: the image ends at block 5: blocks 5 to 39 of the volume are not in it (free blocks "
                     "read as zeros)"},
        {unterminated, "1280: ASCII file B: the records run past its blocks or have no end mark (FFFF)"},
        {odd,
         "24: impossible geometry: tracks x surfaces x blocks per track is beyond the 2^32 blocks a directory "
         "entry can address | 532: file A: its date is not a BCD date | 770: ASCII file A: byte FF inside a record | "
         "773: ASCII file A: CR at the end of a record (dropped on reading) | 544: file A stands twice in the "
         "directory (@1 and @2)"},
    };
    for (const auto& [file, expected] : cases) {
        EXPECT_EQ(findingsText(checkVolumeImage(file)), expected);
    }
}

// An image shorter than its volume: the listing and a file past the image's
// end (zeros) read from the file itself.
TEST(LifVolume, ImagesAreReadInPlace)
{
    TempDir dir;
    Bytes image = volumeWith({{"A", "10 A"}}, 2464);
    setEntry(image, 1, 0, 0x42202020), setEntry(image, 1, 10, 0x0001, 2), setEntry(image, 1, 12, 2000);
    setEntry(image, 1, 16, 1), setEntry(image, 2, 10, 0xFFFF, 2);
    dir.write("disk.lif", image);
    const lif::VolumeReader reader(dir / "disk.lif");
    const lif::Volume& volume = reader.volume();
    ASSERT_EQ(volume.files.size(), 2u);
    EXPECT_EQ(textOf(textFromLines(readRecords(reader.fileBlocks(volume.files[0])))), "10 A\r\n");
    EXPECT_THAT(failureOf([&] { reader.fileBlocks(volume.files[1]); }), HasSubstr("the image ends inside B"));
    std::fill(image.begin() + 24, image.begin() + 36, 0xFF); // a geometry of 2^96 blocks
    EXPECT_EQ(lif::parseImage(image).blocks, lif::kMostBlocks); // the most a directory entry can address
    dir.write("short.lif", Bytes(image.begin(), image.begin() + 300));
    EXPECT_THAT(failureOf([&] { lif::readVolume(dir / "short.lif"); }), HasSubstr("lies outside the image"));
}
