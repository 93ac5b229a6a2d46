// The content of an ASCII file on a volume and the program files made of
// its lines: the records, their end marks, whole blocks.

#include "lif.h"

#include "core/base/checked.h"
#include "core/base/failure.h"
#include "core/program/hp_ascii.h"
#include "core/program/hp_ascii_format.h"

namespace varnook::lif {

std::vector<ByteView> readRecords(ByteView stream, bool programFile)
{
    std::vector<ByteView> lines;
    readRecordLines(stream, 0, programFile, lines);
    return lines;
}

namespace {

// Appends each line as a record: its length word, its bytes, a pad byte
// after an odd length. A line the format cannot carry is refused.
void appendRecords(Bytes& file, const std::vector<ByteView>& lines)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ByteView line = lines[i];
        if (line.size() > hp::kMaxLineLength) {
            throw Failure(lineTooLongMessage(static_cast<std::int64_t>(i) + 1, line.size()));
        }
        if (const auto at = findUncarriableByte(line)) {
            throw Failure(uncarriableByteMessage({static_cast<std::int32_t>(i + 1), at->column}));
        }
        file.push_back(0x00);
        file.push_back(static_cast<std::uint8_t>(line.size()));
        file.insert(file.end(), line.begin(), line.end());
        if (line.size() % 2 == 1) {
            file.push_back(0x00);
        }
    }
}

} // namespace

Bytes asciiFileFromLines(const std::vector<ByteView>& lines)
{
    Bytes file;
    appendRecords(file, lines);
    checkedSize(file.size(), "the file");
    file.push_back(0xFF);
    file.push_back(0xFF);
    file.resize((file.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0x00);
    return file;
}

Bytes asciiFileFromProgramFile(ByteView file)
{
    if (file.size() < hp::kHeaderSize) {
        throw Failure("the file is shorter than the 256-byte header of an HP BASIC ASCII file");
    }
    return asciiFileFromLines(readRecords(file.subspan(hp::kHeaderSize), true));
}

Bytes textFromLines(const std::vector<ByteView>& lines)
{
    Bytes text;
    for (const auto line : lines) {
        text.insert(text.end(), line.begin(), line.end());
        text.push_back(0x0D);
        text.push_back(0x0A);
    }
    return text;
}

Bytes programFileFromLines(const std::vector<ByteView>& lines)
{
    Bytes file(hp::kHeaderSize, 0x00);
    std::copy(hp::kHeaderStart.begin(), hp::kHeaderStart.end(), file.begin());
    appendRecords(file, lines);
    file.insert(file.end(), hp::kEndMark.begin(), hp::kEndMark.end());
    return file;
}

} // namespace varnook::lif
