// Write, then read: a program written into a fresh volume (or over itself,
// or beside another) reads back as the same lines, and so it does after
// the volume commands (rename, insert as a single file in either form, its
// last block short, and as bare blocks, purge, pack) have changed the volume
// around it; the volume stays clean for the structure check throughout.

#include "check.h"

#include "core/base/failure.h"
#include "core/io/file_io.h"
#include "core/program/hp_ascii.h"
#include "core/text/line_breaks.h"
#include "core/lif/lif.h"
#include "core/lif/structure_check.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace varnook;

namespace {

std::string textOfFile(const Bytes& image, const char* name)
{
    const lif::Volume volume = lif::parseImage(image);
    const lif::Entry* entry = volume.find(name);
    FUZZ_CHECK(entry != nullptr && entry->type == lif::kTypeAscii);
    const ByteView blocks = ByteView(image).subspan(entry->start * lif::kBlockSize, entry->blocks * lif::kBlockSize);
    const Bytes text = textFromLines(readRecords(blocks));
    return std::string(text.begin(), text.end());
}

void checkClean(const Bytes& image)
{
    const auto findings = checkVolumeImage(image); // a note that the image stops early is no departure
    FUZZ_CHECK(std::all_of(findings.begin(), findings.end(), [](const lif::Finding& f) { return f.note; }));
}

bool isFull(const Failure& e)
{
    return std::string(e.what()).starts_with("the volume is full");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    // The first byte sizes the volume, the rest is the program text.
    const std::uint32_t blocks = 8 + data[0] % 64;
    Bytes text(data + 1, data + size);
    for (auto& byte : text) {
        byte = byte == 0x00 ? 0x01 : byte == 0xFF ? 0xFE : byte;
    }
    text = normalizeLineBreaks(std::move(text)); // as the window and varnook-convert give it
    Bytes program;
    try {
        program = encodeHpAsciiBytes(text);
    } catch (const Failure&) {
        return 0;
    }
    const Bytes decoded = decodeHpAsciiBytes(program);
    const std::string expected(decoded.begin(), decoded.end());
    const Bytes content = asciiFileFromProgramFile(program);
    Bytes image = lif::newVolumeImage("FUZZ", blocks, 1, {});
    for (const char* name : {"PROG", "OTHER", "PROG"}) {
        try {
            lif::putFile(image, name, content, {});
        } catch (const Failure& e) {
            FUZZ_CHECK(isFull(e));
            return 0;
        }
        FUZZ_CHECK(textOfFile(image, name) == expected);
        checkClean(image);
    }
    FUZZ_CHECK(textOfFile(image, "OTHER") == expected);

    // The volume commands, on the image as a file (in memory where tmpfs is).
    static const std::string path =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        ("varnook-fuzz-" + std::to_string(::getpid()) + ".lif");
    static const bool removedAtExit = std::atexit([] { ::unlink(path.c_str()); }) == 0;
    (void)removedAtExit;
    replaceFile(path, image);
    const auto step = [&](auto change) {
        try {
            lif::VolumeUpdate update(path);
            change(update);
        } catch (const Failure& e) {
            FUZZ_CHECK(isFull(e));
        }
        image = readFileBytes(path);
        checkClean(image);
        FUZZ_CHECK(textOfFile(image, "PROG") == expected);
    };
    step([](lif::VolumeUpdate& v) { v.rename("OTHER", "COPY"); });
    FUZZ_CHECK(textOfFile(image, "COPY") == expected);
    // A single file as tools hand it out: an HFSLIF volume, or the entry
    // form with its last block written short (its trailing zeros left out).
    const Bytes single = [&] {
        const lif::VolumeReader reader(path); // its shared lock goes before the next change
        const lif::Entry& prog = *reader.volume().find("PROG");
        if ((data[0] & 0x40) != 0) {
            return lif::hfslifForm(reader.entryBytes(prog), reader.fileBlocks(prog));
        }
        Bytes form = reader.singleFileForm(prog);
        const std::size_t least = form.size() - 255; // a byte of the last block stays
        while ((data[0] & 0x80) != 0 && form.size() > least && form.back() == 0x00) {
            form.pop_back();
        }
        return form;
    }();
    step([&](lif::VolumeUpdate& v) {
        const auto [entry, fileBlocks] = lif::splitSingleFile(single);
        v.insert(entry, fileBlocks, true);
    });
    step([&](lif::VolumeUpdate& v) { v.insert(lif::newEntry("BARE", 0xE961, {}), content, false); });
    step([](lif::VolumeUpdate& v) { v.purge("COPY"); });
    step([](lif::VolumeUpdate& v) { v.pack(); });
    // Packed: the files one after another from the directory's end.
    const lif::Volume packed = lif::parseImage(image);
    std::uint64_t next = packed.firstDataBlock();
    for (const auto& file : packed.files) {
        FUZZ_CHECK(file.start == next);
        next += file.blocks;
    }
    const lif::Entry* bare = packed.find("BARE");
    FUZZ_CHECK(bare == nullptr ||
               std::equal(content.begin(), content.end(),
                          image.begin() + static_cast<std::ptrdiff_t>(bare->start * lif::kBlockSize)));
    return 0;
}
