// The records of program files and ASCII files: the grammar's steps, the
// files made of lines, and the check of what departs from it.

#include "records.h"

#include "core/base/byte_order.h"
#include "core/base/checked.h"
#include "core/base/failure.h"
#include "hp_ascii.h"
#include "hp_ascii_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace varnook {

namespace {

constexpr std::size_t kLifBlock = 256;

} // namespace

RecordStep recordAt(ByteView bytes, std::size_t at, RecordsEnd end)
{
    RecordStep step;
    step.at = at;
    const std::size_t n = bytes.size();
    if (end == RecordsEnd::EndMark && at + 3 <= n && bytes[at] == 0x00 && bytes[at + 1] == 0xFF &&
        bytes[at + 2] == 0xFF) {
        step.kind = RecordStep::Kind::End;
        step.next = at + 3;
        return step;
    }
    if (at + 2 > n) {
        step.next = n;
        return step;
    }
    const std::size_t length = be16(bytes.data() + at);
    if (length == 0xFFFF && end == RecordsEnd::LengthFFFF) {
        step.kind = RecordStep::Kind::End;
        step.next = at + 2;
    } else if (length == 0xFFFE) {
        step.kind = RecordStep::Kind::Empty;
        step.next = at + 2;
    } else {
        step.kind = RecordStep::Kind::Record;
        step.length = length;
        step.next = at + recordSize(length);
    }
    return step;
}

std::vector<ByteView> readRecords(ByteView stream, bool programFile)
{
    std::vector<ByteView> lines;
    readRecordLines(stream, 0, programFile, lines);
    return lines;
}

namespace {

// Appends each line as a record. A line the format cannot carry is refused.
void appendRecords(Bytes& file, const std::vector<ByteView>& lines)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ByteView line = lines[i];
        if (line.size() > hp::kMaxLineLength) {
            throw Failure(lineTooLongMessage(static_cast<std::int64_t>(i) + 1, line));
        }
        if (const auto at = findUncarriableByte(line)) {
            throw Failure(uncarriableByteMessage({static_cast<std::int32_t>(i + 1), at->column}));
        }
        const std::size_t from = file.size();
        file.resize(from + recordSize(line.size()) + 1);
        std::copy(line.begin(), line.end(), file.begin() + static_cast<std::ptrdiff_t>(from + 2));
        file.resize(from + frameRecord(file.data() + from, line.size()));
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
    file.resize((file.size() + kLifBlock - 1) / kLifBlock * kLifBlock, 0x00);
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

namespace {

// A damaged file can depart from the format at every byte; past this many
// findings the rest tell the user nothing new.
constexpr std::size_t kMostFindings = 100;
constexpr std::size_t kMostHeaderBytes = 8;

std::string hex2(unsigned value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// The header bytes that differ from the format's.
std::vector<std::size_t> differingHeaderBytes(ByteView file)
{
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < std::min(file.size(), hp::kHeaderSize); ++i) {
        if (file[i] != (i < hp::kHeaderStart.size() ? hp::kHeaderStart[i] : 0x00)) {
            differing.push_back(i);
        }
    }
    return differing;
}

bool lineBreakByte(std::uint8_t byte)
{
    return byte == 0x0D || byte == 0x0A;
}

// What a 00, FF, CR or LF in a record is; a CR, LF or CR LF ending it is
// dropped on reading.
std::string crOrByte(std::uint8_t byte, bool ending)
{
    if (lineBreakByte(byte)) {
        const char* name = byte == 0x0D ? "CR" : "LF";
        return ending ? std::string(name) + " at the end of a record (dropped on reading)"
                      : std::string(name) + " inside a record (a line cannot hold it)";
    }
    return "byte " + hex2(byte) + " inside a record";
}

class Findings {
public:
    Findings(std::uint64_t base, std::string name) : base_(base), name_(std::move(name)) { }
    bool full() const { return list_.size() >= kMostFindings; }
    void add(std::uint64_t offset, const std::string& text, bool note = false)
    {
        if (full()) {
            ++left_;
        } else {
            list_.push_back({base_ + offset, name_ + text, note});
        }
    }
    std::vector<Finding> take()
    {
        if (left_ > 0) {
            list_.push_back({list_.back().offset, std::to_string(left_) + " more findings left out"});
        }
        return std::move(list_);
    }

private:
    std::uint64_t base_;
    std::string name_;
    std::vector<Finding> list_;
    std::size_t left_ = 0;
};

// Every byte of the record a line cannot hold.
void checkRecordBytes(Findings& found, ByteView bytes, const RecordStep& record)
{
    const std::size_t end = record.at + 2 + record.length;
    for (std::size_t k = record.at + 2; k < end; ++k) {
        if (bytes[k] == 0x00 || bytes[k] == 0xFF || lineBreakByte(bytes[k])) {
            found.add(k, crOrByte(bytes[k], lineBreakByte(bytes[k]) && endsRecord(bytes, k, end)));
        }
    }
}

} // namespace

bool hasProgramHeader(ByteView bytes)
{
    return bytes.size() >= hp::kHeaderSize && differingHeaderBytes(bytes).size() <= kMostHeaderBytes;
}

std::optional<bool> chainsToLifEnd(ByteView bytes)
{
    for (RecordStep step = recordAt(bytes, 0, RecordsEnd::LengthFFFF);;
         step = recordAt(bytes, step.next, RecordsEnd::LengthFFFF)) {
        switch (step.kind) {
        case RecordStep::Kind::End:
            return true;
        case RecordStep::Kind::Cut:
            return std::nullopt;
        case RecordStep::Kind::Record:
            if (step.length > hp::kMaxLineLength) {
                return false;
            }
            break;
        case RecordStep::Kind::Empty:
            break;
        }
    }
}

std::vector<Finding> checkProgramFile(ByteView file)
{
    Findings found(0, "");
    const std::size_t n = file.size();
    const std::vector<std::size_t> differing = differingHeaderBytes(file);
    // Beyond a few, the file is something else, and its records would be noise.
    if (differing.size() > kMostHeaderBytes) {
        found.add(0, "not an HP BASIC ASCII program file: " + std::to_string(differing.size()) + " of the first " +
                         std::to_string(std::min(n, hp::kHeaderSize)) + " bytes differ from the header");
        return found.take();
    }
    for (const std::size_t i : differing) {
        const std::uint8_t expected = i < hp::kHeaderStart.size() ? hp::kHeaderStart[i] : 0x00;
        found.add(i, "header byte " + hex2(file[i]) + ", expected " + hex2(expected));
    }
    if (n < hp::kHeaderSize) {
        found.add(n, "the file ends inside the 256-byte header");
        return found.take();
    }
    for (std::size_t p = hp::kHeaderSize;;) {
        const RecordStep step = recordAt(file, p, RecordsEnd::EndMark);
        if (step.kind == RecordStep::Kind::End) {
            if (step.next < n) {
                found.add(step.next, std::to_string(n - step.next) + " bytes after the end mark");
            }
            break;
        }
        if (step.kind == RecordStep::Kind::Cut) {
            found.add(p, "no end mark (00 FF FF)");
            break;
        }
        if (step.kind == RecordStep::Kind::Empty) {
            found.add(p, "length word FFFE: an empty line, as LIF ASCII files have them", true);
            p = step.next;
            continue;
        }
        if (step.length > hp::kMaxLineLength) {
            found.add(p, "length word " + hex2(file[p]) + hex2(file[p + 1]) + " is above 255");
        }
        if (step.runsPast(n)) {
            found.add(p, "the length word (" + std::to_string(step.length) + ") runs past the end of the file");
            break;
        }
        checkRecordBytes(found, file, step);
        const std::size_t pad = p + 2 + step.length;
        if (pad < step.next && pad < n && file[pad] != 0x00) {
            found.add(pad, "pad byte " + hex2(file[pad]) + " is not zero (skipped on reading)", true);
        }
        p = step.next;
    }
    return found.take();
}

std::vector<Finding> checkLifAsciiRecords(ByteView stream, std::uint64_t base, const std::string& name)
{
    Findings found(base, name);
    for (std::size_t p = 0;;) {
        const RecordStep step = recordAt(stream, p, RecordsEnd::LengthFFFF);
        if (step.kind == RecordStep::Kind::End) {
            return found.take();
        }
        if (step.kind == RecordStep::Kind::Cut || step.runsPast(stream.size())) {
            found.add(p, "the records run past its blocks or have no end mark (FFFF)");
            break;
        }
        if (step.kind == RecordStep::Kind::Record) {
            if (step.length > hp::kMaxLineLength) {
                found.add(p, "a record of " + std::to_string(step.length) +
                                 " bytes, longer than the 255 of an HP BASIC line");
            }
            checkRecordBytes(found, stream, step);
        }
        p = step.next;
    }
    return found.take();
}

} // namespace varnook
