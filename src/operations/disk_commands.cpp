#include "disk_commands.h"

#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/lif/structure_check.h"
#include "core/program/hp_ascii.h"

#include <filesystem>

namespace varnook::disk {
namespace {

// A disk view names the files of the image it shows: never the image itself.
void refuseImageItself(const std::string& file, const std::string& image)
{
    if (samePlace(pathOf(file), pathOf(image))) {
        throw Failure("that is the disk image itself");
    }
}

// Text as Write File makes it a program, in the code page, never numbered.
Bytes programFromText(const Bytes& text, const CodePage& codePage)
{
    const SingleByteText single = codePage.toSingleBytes(codePage.toUtf8(text));
    if (single.offending) {
        throw Failure("it holds a character that is not a single byte: " + describe(*single.offending));
    }
    if (const auto position = findUncarriableByte(single.bytes)) {
        throw Failure(uncarriableByteMessage(*position));
    }
    requireLinesFit(single.bytes);
    return encodeHpAsciiBytes(single.bytes);
}

} // namespace

lif::Volume catalogue(const std::string& image, std::string* recovery)
{
    const lif::VolumeReader reader(pathOf(image));
    if (recovery != nullptr) {
        *recovery = reader.recovery();
    }
    return reader.volume();
}

std::string mediumText(const lif::Volume& volume)
{
    const std::string blocks = std::to_string(volume.blocks) + " blocks";
    const lif::Medium* medium = lif::mediumOf(volume);
    return medium == nullptr ? blocks : std::string(medium->name) + " (" + blocks + ")";
}

void extract(const std::string& image, const std::string& name, const std::string& target, bool bare)
{
    refuseImageItself(target, image);
    const lif::VolumeReader reader(pathOf(image));
    const lif::Entry& entry = reader.volume().named(name);
    if (!entry.damage.empty()) {
        throw Failure(entry.damage + "; it cannot be read");
    }
    replaceFile(pathOf(target), bare ? reader.fileBlocks(entry) : reader.singleFileForm(entry));
}

Arrival arrivalOf(const std::string& file, const std::string& image, const CodePage& codePage)
{
    refuseImageItself(file, image);
    const Bytes bytes = readFileBytes(pathOf(file));
    Arrival arrival;
    const std::string stem = pathOf(file).stem().string();
    arrival.name = lif::isValidName(stem) ? stem : "";
    switch (kindOf(bytes)) {
    case FileKind::ProgramFile:
        // Its records are moved unchanged, so they must be sound ones.
        for (const auto& finding : checkProgramFile(bytes)) {
            if (!finding.note && finding.offset >= 256) {
                throw Failure("offset " + std::to_string(finding.offset) + ": " + finding.text);
            }
        }
        arrival.content = asciiFileFromProgramFile(bytes);
        return arrival;
    case FileKind::LifAscii:
        arrival.content = asciiFileFromLines(readRecords(bytes));
        return arrival;
    default:
        break;
    }
    try {
        auto [entry, blocks] = lif::splitSingleFile(bytes);
        arrival.kind = Arrival::Exchange;
        arrival.entry = entry;
        arrival.content = std::move(blocks);
        arrival.name = std::string(reinterpret_cast<const char*>(entry.data()), 10);
        arrival.name.erase(arrival.name.find_last_not_of(' ') + 1);
        return arrival;
    } catch (const Failure&) {
        if (kindOf(bytes) == FileKind::Volume) {
            throw Failure("it is a disk image; open it and extract its files");
        }
    }
    arrival.content = asciiFileFromProgramFile(programFromText(bytes, codePage));
    return arrival;
}

void insert(const std::string& image, const Arrival& arrival, bool replace)
{
    lif::VolumeUpdate update(pathOf(image));
    if (const std::string damage = update.volume().damage(); !damage.empty()) {
        throw Failure(damage + "; nothing is written into a damaged volume");
    }
    if (arrival.kind == Arrival::Exchange) {
        update.insert(arrival.entry, arrival.content, replace);
        return;
    }
    if (!replace && update.volume().find(arrival.name) != nullptr) {
        throw Failure("the volume already holds " + arrival.name + "; it is not replaced");
    }
    update.put(arrival.name, arrival.content, lif::dateNow());
}

void rename(const std::string& image, const std::string& from, const std::string& to)
{
    lif::VolumeUpdate(pathOf(image)).rename(from, to);
}

void purge(const std::string& image, const std::string& name)
{
    lif::VolumeUpdate(pathOf(image)).purge(name);
}

void pack(const std::string& image)
{
    lif::VolumeUpdate(pathOf(image)).pack();
}

void setLabel(const std::string& image, const std::string& label)
{
    lif::VolumeUpdate(pathOf(image)).setLabel(label);
}

void create(const std::string& image, const std::string& label, std::uint32_t blocks)
{
    lif::createVolumeFile(pathOf(image), label, blocks, lif::kDefaultDirectoryBlocks, lif::dateNow());
}

std::string exportPlain(const std::string& image, const std::string& target)
{
    refuseImageItself(target, image);
    const auto exported = lif::exportPlainImage(pathOf(image), pathOf(target));
    return exported.absent.empty() ? std::string() : lif::describeBlocks(exported.absent);
}

} // namespace varnook::disk
