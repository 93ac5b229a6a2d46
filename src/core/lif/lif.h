#pragma once

// LIF volumes (the disk images of HP BASIC workstations) and the ASCII
// files on them: the record stream of an HP BASIC ASCII program file after
// its header, ended by the length FFFF instead of 00 FF FF.

#include "core/base/bytes.h"
#include "core/capture/disk_image.h"
#include "core/program/records.h"
#include "image_file.h"

#include <array>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnook::lif {

inline constexpr std::size_t kBlockSize = 256;
inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::uint16_t kTypeAscii = 0x0001;
inline constexpr std::uint16_t kTypeProg = 0xE950;
inline constexpr std::uint16_t kTypePurged = 0x0000;
inline constexpr std::uint16_t kTypeEnd = 0xFFFF;
// A 3.5-inch double-sided disk: 77 tracks, 2 surfaces, 16 blocks a track.
inline constexpr std::uint32_t kDefaultBlocks = 2464;
inline constexpr std::uint32_t kDefaultDirectoryBlocks = 14;
// The most blocks a directory entry's 32-bit numbers can address: a larger
// geometry is impossible, and counts as this.
inline constexpr std::uint64_t kMostBlocks = std::uint64_t{1} << 32;

using Date = std::array<std::uint8_t, 6>; // BCD: year, month, day, hour, minute, second
// A directory entry as it stands in a volume.
using EntryBytes = std::array<std::uint8_t, kEntrySize>;

// What is wrong with a directory entry, by kind.
enum class Damage {
    None,
    OutsideVolume, // its blocks lie outside the volume's data blocks
    CutOff, // the image ends inside it
    Overlap, // it shares blocks with another file
    AbsentBlocks, // a capture lacks some of its blocks
};

struct Entry {
    std::string name; // without the padding blanks
    std::uint16_t type = 0;
    std::uint32_t start = 0;
    std::uint32_t blocks = 0;
    Date date{};
    std::size_t slot = 0; // place in the directory (shown counting from 1)
    // What is wrong with the entry (outside the volume, overlapping another
    // file, cut off by the image's end); empty when nothing is. A damaged
    // file is listed but not read, and nothing is written into its volume.
    std::string damage;
    Damage damageKind = Damage::None;
    // Another entry has the same name: the file is named by its entry (@N).
    bool sharesName = false;
};

struct Volume {
    Container container = Container::None; // what the image file is: plain, or a capture
    std::string label;
    std::uint32_t directoryStart = 0;
    std::uint32_t directoryBlocks = 0;
    std::uint64_t blocks = 0; // capacity
    std::vector<Entry> files; // live entries, in directory order
    std::vector<std::size_t> purgedSlots;
    std::optional<std::size_t> endSlot; // none when the directory is full
    // What makes the whole volume unfit for writing (an impossible
    // geometry); empty when nothing does.
    std::string defect;

    std::size_t entryCount() const { return std::size_t{directoryBlocks} * (kBlockSize / kEntrySize); }
    std::uint64_t firstDataBlock() const { return std::uint64_t{directoryStart} + directoryBlocks; }
    std::uint64_t freeBlocks() const;
    const Entry* find(std::string_view name) const;
    // The file named as shownName shows it (and --list lists it).
    const Entry* findNamed(std::string_view name) const;
    // The same, or by its entry's place (@1 for the first); throws Failure
    // for no such file and for a name two entries share, naming both.
    const Entry& named(std::string_view name) const;
    // The entries of the files of that name when two or more share it:
    // "@2 and @5"; empty for a name no two entries share.
    std::string entriesNamed(std::string_view name) const;
    // The same for every name two or more entries share, in one pass.
    std::map<std::string, std::string> sharedNames() const;
    // What stops writing into the volume: its defect, a name two entries
    // share, else the first damaged entry's damage; empty when there is none.
    std::string damage() const;
};

// A departure from the format and the byte offset where it stands.
using Finding = varnook::Finding;

// Whether the bytes start with the mark of a LIF volume.
bool hasVolumeMark(ByteView start);

// Reads a volume from its label block, its directory blocks and the size of
// its image. Throws Failure for what is not a volume or has no directory in
// it; a damaged entry is marked (Entry::damage). With findings given,
// records every departure there instead and goes on where it can.
Volume parseVolume(ByteView label, ByteView directory, std::uint64_t imageSize,
                   std::vector<Finding>* findings = nullptr);

// The same for a whole image in memory.
Volume parseImage(ByteView image, std::vector<Finding>* findings = nullptr);

// A volume opened for reading: a shared lock (writers take an exclusive
// one) held through one open file from the directory to the last block
// read, so that what is read is the volume before a change or after it,
// never between. A container is decoded, and a file that touches blocks
// missing from the capture is marked damaged.
class VolumeReader {
public:
    explicit VolumeReader(const std::filesystem::path& image);

    const Volume& volume() const { return volume_; }
    // That an unfinished change was rolled back on opening; empty when none was.
    const std::string& recovery() const { return file_.recovery(); }
    // The blocks of one file; a file the image ends inside fails.
    Bytes fileBlocks(const Entry& entry) const;
    // The file's 32-byte directory entry exactly as it stands in the volume.
    EntryBytes entryBytes(const Entry& entry) const;
    // The file as LIF tools exchange single files: its entry, then its blocks.
    Bytes singleFileForm(const Entry& entry) const;
    // The volume's blocks: the image as it is, or the capture decoded.
    Bytes image() const;
    const std::optional<DecodedImage>& capture() const { return capture_; }

private:
    ImageFile file_;
    std::optional<DecodedImage> capture_;
    Volume volume_;
};

// The label and the directory of the image (see VolumeReader).
Volume readVolume(const std::filesystem::path& image);

// Marks the files that touch blocks missing from a capture.
void markAbsentBlocks(Volume& volume, const DecodedImage& image);

// Whether the file is a disk image: it starts with the mark of a LIF volume,
// or is a container. Throws Failure when it cannot be read.
bool isVolumeFile(const std::filesystem::path& path);

// What a disk image or capture holds, for a question or a refusal before it
// would be replaced: "a disk image holding 4 programs"; nothing for a file
// that is neither (or none at all).
std::optional<std::string> volumeSummary(const std::filesystem::path& path);

// The name as it is shown and as a file name: the same where it is safe as
// one; otherwise every byte that is not (a blank, a control character, a
// byte over 7E, /, \, %, the dots of "." and "..", a leading - or @) as %XX.
std::string shownName(std::string_view name);

// The type's name, one word ("ASCII", "PROG", "BDAT", ...), or its code in
// hexadecimal ("E008").
std::string typeName(std::uint16_t type);

// Why a file of this type (not ASCII) cannot be read as program text, and
// what to do instead.
std::string notTextReason(std::uint16_t type);

// Refuses a file whose blocks run past the end of the image (cut off).
void requireInsideImage(const Entry& entry, std::uint64_t imageSize);

// The rule for names the user types: 1 to 10 letters, digits, underscores
// and hyphens, starting with a letter (lower case and - as HP's own
// systems wrote them).
inline constexpr const char* kNameRule = "1 to 10 letters, digits, _ and -, starting with a letter";
bool isValidName(std::string_view name);
// What a name that came from a volume may hold: 1 to 10 printable
// characters, not starting with a blank. It goes back as it was.
bool isVolumeName(std::string_view name);

// "YYYY-MM-DD HH:MM:SS", "-" for no date (all zeros, all 99s, all FFs),
// "unknown" for bytes that are not BCD or no date of a calendar (month 99).
std::string formatDate(const Date& date);
// Whether the date is none, a date, or bytes that are no date.
enum class DateKind { None, Known, Unknown };
DateKind dateKind(const Date& date);
Date dateNow();

// The floppy disks of HP's drives, as their volumes are labelled.
struct Medium {
    const char* name;
    std::uint32_t blocks;
};
inline constexpr Medium kMedia[] = {{"9121", 1056}, {"9122", 2464}, {"9122-hd", 4928}, {"9895", 4620}};

// A new empty volume: its label and directory blocks (the image may stop
// there: the rest reads as zeros). The label's geometry is the drive's where
// it is known (77 tracks of 16 blocks on two surfaces for 2,464 blocks, of 32
// for 4,928), else the block count as tracks of one block on one surface.
Bytes newVolumeImage(std::string_view label, std::uint32_t blocks, std::uint32_t directoryBlocks, const Date& date);

// Makes the file of a new empty volume of the whole medium's size
// (emulators recognise a medium by it). Never replaces a file: a name that
// is taken, even meanwhile, fails and nothing changes.
void createVolumeFile(const std::filesystem::path& path, std::string_view label, std::uint32_t blocks,
                      std::uint32_t directoryBlocks, const Date& date);

// Writes the volume of an image or capture as a plain image of its whole
// size to target (a capture's missing blocks, and those it never reached,
// as zeros).
struct Exported {
    std::vector<std::uint32_t> absent; // the blocks written as zeros
    std::string recovery; // that opening rolled back an unfinished change
};
Exported exportPlainImage(const std::filesystem::path& image, const std::filesystem::path& target);

// The medium the volume's size is ("9122"), or nothing.
const Medium* mediumOf(const Volume& volume);

// The entry of a file to put on a volume; its start and length are set
// when it is placed. Throws Failure for a name that is not a valid one.
EntryBytes newEntry(std::string_view name, std::uint16_t type, const Date& date);

// A file as LIF tools exchange single files: its entry (whose start block
// means nothing here) and its blocks, the last one filled with zeros where
// it was written short. Takes the 32-byte entry form and the HFSLIF form
// (a one-file volume labelled HFSLIF). Throws Failure for a file that is
// neither.
std::pair<EntryBytes, Bytes> splitSingleFile(ByteView file);

// The HFSLIF form of a file: a volume labelled HFSLIF, its directory in
// block 1, the entry (start block 2) and an end entry, then the blocks.
Bytes hfslifForm(const EntryBytes& entry, ByteView blocks);

// A type by its name (typeName's) or its four hexadecimal digits; nothing
// for any other text, and for the purged and end types.
std::optional<std::uint16_t> typeNamed(std::string_view text);

// Adds the ASCII file (content from asciiFileFromLines) to the image in
// memory, or replaces the ASCII file of that name. Throws Failure, saying
// which, when the volume or its directory is full, the volume is
// inconsistent, or the name is taken by a file of another type.
void putFile(Bytes& image, std::string_view name, ByteView content, const Date& date);
// The same for any file, its name, type, date and implementation field
// from the entry. A taken name is refused unless replace (and even then
// when the file there is of another type).
void putFile(Bytes& image, const EntryBytes& entry, ByteView content, bool replace);

// An image opened for changes, as a file system changes a disk (see
// ImageFile): in place, under an exclusive lock from reading the directory
// to the last write. A kill or power loss at any moment leaves every other
// file intact and the changed one whole or as it was. Refuses an image that
// is not a volume, is inconsistent, or was cut off inside a file.
class VolumeUpdate {
public:
    explicit VolumeUpdate(const std::filesystem::path& image);

    const Volume& volume() const { return volume_; }
    // That an unfinished change was rolled back on opening; empty when none was.
    const std::string& recovery() const { return file_.recovery(); }

    // Adds the ASCII file (content from asciiFileFromLines), or replaces the
    // ASCII file of that name: its blocks go into free space and are
    // flushed, then its entry is written (over the old version's, in one
    // block write). When it fits nowhere but in the old version's blocks,
    // those are overwritten under a rollback journal. Throws Failure as
    // putFile does.
    void put(std::string_view name, ByteView content, const Date& date);
    // The same for any file (see putFile).
    void insert(const EntryBytes& entry, ByteView content, bool replace);
    // Each writes one entry (or the label) in place; a file is named as
    // shownName shows it.
    void rename(std::string_view from, std::string_view to);
    void purge(std::string_view name);
    void setLabel(std::string_view label);
    // Moves the files towards the start, in their order, so that the free
    // space is one gap after them; the directory lists them in that order,
    // its purged entries gone. A file moves through free space where it can,
    // else under the journal, as does the directory.
    void pack();

private:
    void writeEntry(std::size_t slot, const EntryBytes& entry);
    EntryBytes entryAt(std::size_t slot) const;
    std::uint64_t directoryAt() const;
    const Entry& fileNamed(std::string_view name) const;
    void moveFile(const Entry& file, std::uint64_t to);

    ImageFile file_;
    Bytes label_;
    Bytes directory_;
    Volume volume_;
};

} // namespace varnook::lif
