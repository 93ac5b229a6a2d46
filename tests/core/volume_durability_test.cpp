// A volume change cut off by a power loss at any flush: every image the disk
// could then hold (writes since the last flush of their file dropped, kept,
// or torn at 512-byte sectors; a journal made or removed only once its
// folder was flushed), opened as the next command opens it, reads as the
// volume before the change or after it, and nothing else.

#include "core/failure.h"
#include "core/lif.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>

using namespace varnook;
using namespace varnook::test;
using lif::detail::Store;

namespace {

struct Step {
    enum Kind { Write, Resize, Flush, Remove } kind;
    Store store;
    std::uint64_t offset = 0;
    Bytes bytes;
};

struct Recorder : lif::detail::StorageSteps {
    std::vector<Step> steps;
    void wrote(Store s, std::uint64_t offset, ByteView b) override
    {
        steps.push_back({Step::Write, s, offset, Bytes(b.begin(), b.end())});
    }
    void resized(Store s, std::uint64_t size) override { steps.push_back({Step::Resize, s, size, {}}); }
    void flushed(Store s) override { steps.push_back({Step::Flush, s, 0, {}}); }
    void removed(Store s) override { steps.push_back({Step::Remove, s, 0, {}}); }
};

void writeInto(Bytes& file, std::uint64_t offset, ByteView bytes, std::uint64_t from = 0, std::uint64_t to = ~0ull)
{
    const std::uint64_t first = std::max(offset, from);
    const std::uint64_t end = std::min(offset + bytes.size(), to);
    if (first >= end) {
        return;
    }
    file.resize(std::max<std::size_t>(file.size(), end), 0x00);
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(first - offset),
              bytes.begin() + static_cast<std::ptrdiff_t>(end - offset),
              file.begin() + static_cast<std::ptrdiff_t>(first));
}

// The image and journal a power loss before step `cut` may leave. A step is
// durable when its file (the folder, for a journal made or removed) was
// flushed after it; any other is chosen by the variant: 0 drops all, 1 keeps
// all, others choose at random, writes sector by sector.
std::pair<Bytes, std::optional<Bytes>> afterPowerLoss(Bytes image, const std::vector<Step>& steps, std::size_t cut,
                                                      unsigned variant)
{
    std::mt19937 random(variant * 7919 + static_cast<unsigned>(cut));
    const auto durable = [&](std::size_t i, Store store) {
        return std::any_of(steps.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                           steps.begin() + static_cast<std::ptrdiff_t>(cut),
                           [&](const Step& s) { return s.kind == Step::Flush && s.store == store; });
    };
    const auto kept = [&] { return variant == 1 || (variant > 1 && random() % 2 == 0); };
    std::optional<Bytes> journal;
    for (std::size_t i = 0; i < cut; ++i) {
        const Step& s = steps[i];
        const bool isImage = s.store == Store::Image;
        if (s.kind == Step::Remove || (s.kind == Step::Resize && !isImage && s.offset == 0)) {
            if (durable(i, Store::Folder) || kept()) {
                journal = s.kind == Step::Remove ? std::nullopt : std::optional<Bytes>(Bytes{});
            }
            continue;
        }
        Bytes* file = isImage ? &image : journal ? &*journal : nullptr;
        if (file == nullptr || s.kind == Step::Flush) {
            continue;
        }
        const bool sure = durable(i, s.store);
        if (s.kind == Step::Resize) {
            if (sure || kept()) {
                file->resize(static_cast<std::size_t>(s.offset), 0x00);
            }
            continue;
        }
        for (std::uint64_t sector = s.offset / 512 * 512; sector < s.offset + s.bytes.size(); sector += 512) {
            if (sure || kept()) {
                writeInto(*file, s.offset, s.bytes, sector, sector + 512);
            }
        }
    }
    return {image, journal};
}

// A short stand-in for the bytes.
std::string digest(ByteView bytes)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const std::uint8_t b : bytes) {
        hash = (hash ^ b) * 1099511628211ull;
    }
    return std::to_string(bytes.size()) + ":" + std::to_string(hash);
}

// What the volume holds as a user reads it: its label, each file's name,
// type and blocks, and the bytes after the volume's end.
std::string contentOf(const std::filesystem::path& path)
{
    try {
        const lif::VolumeReader reader(path);
        const lif::Volume& volume = reader.volume();
        if (!volume.damage().empty()) {
            return "damaged: " + volume.damage();
        }
        std::vector<std::string> files;
        for (const auto& file : volume.files) {
            files.push_back(file.name + " " + lif::typeName(file.type) + " " + digest(reader.fileBlocks(file)));
        }
        std::sort(files.begin(), files.end());
        std::string text = volume.label;
        for (const auto& file : files) {
            text += "|" + file;
        }
        const Bytes image = reader.image();
        return text + "|after the volume: " +
               digest(ByteView(image).subspan(std::min<std::size_t>(volume.blocks * 256, image.size())));
    } catch (const Failure& e) {
        return std::string("failure: ") + e.what();
    }
}

Bytes blocksOf(std::size_t blocks, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(blocks * 256);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// A volume of the blocks holding files of these block counts (F1, F2, ...),
// then the listed ones purged, and bytes after its end.
Bytes volumeOf(std::uint32_t blocks, std::initializer_list<std::size_t> sizes, std::initializer_list<int> purged)
{
    Bytes image = lif::newVolumeImage("DISK", blocks, 1, {});
    unsigned n = 0;
    for (const std::size_t size : sizes) {
        ++n;
        lif::putFile(image, lif::newEntry("F" + std::to_string(n), 0xE961, {}), blocksOf(size, n), false);
    }
    for (const int slot : purged) {
        image[512 + 32 * static_cast<std::size_t>(slot) + 10] = image[512 + 32 * static_cast<std::size_t>(slot) + 11] =
            0;
    }
    image.resize(blocks * 256, 0x00);
    const Bytes tail(300, 0xEE);
    image.insert(image.end(), tail.begin(), tail.end());
    return image;
}

} // namespace

TEST(VolumeDurability, EveryChangeIsWholeOrAbsentAfterAPowerLoss)
{
    // 16 blocks, data from block 3: seven files fill the directory up to its
    // last entry (the end entry), one block is free.
    const Bytes full = volumeOf(16, {1, 1, 1, 1, 1, 4, 3}, {});
    // Gaps before files, one of which must move over its own blocks.
    const Bytes gappy = volumeOf(40, {2, 1, 4, 1, 3}, {0, 3});
    const lif::EntryBytes fresh = lif::newEntry("NEW", 0xE961, {});
    const std::tuple<const char*, const Bytes*, std::function<void(lif::VolumeUpdate&)>> changes[] = {
        {"insert", &full, [&](lif::VolumeUpdate& v) { v.insert(fresh, blocksOf(1, 99), false); }},
        {"replace", &full,
         [](lif::VolumeUpdate& v) { v.insert(lif::newEntry("F1", 0xE961, {}), blocksOf(1, 98), true); }},
        {"replace in the old blocks", &full,
         [](lif::VolumeUpdate& v) { v.insert(lif::newEntry("F7", 0xE961, {}), blocksOf(3, 97), true); }},
        {"rename", &full, [](lif::VolumeUpdate& v) { v.rename("F6", "SIX"); }},
        {"purge", &full, [](lif::VolumeUpdate& v) { v.purge("F2"); }},
        {"set label", &full, [](lif::VolumeUpdate& v) { v.setLabel("WORK"); }},
        {"pack", &gappy, [](lif::VolumeUpdate& v) { v.pack(); }},
    };
    TempDir dir;
    const auto image = dir / "disk.lif";
    const auto journal = lif::journalOf(image);
    for (const auto& [what, base, change] : changes) {
        SCOPED_TRACE(what);
        dir.write("disk.lif", *base);
        const std::string before = contentOf(image);
        Recorder recorder;
        lif::detail::watchStorage(&recorder);
        try {
            lif::VolumeUpdate update(image);
            change(update);
        } catch (const Failure& e) {
            ADD_FAILURE() << e.what();
        }
        lif::detail::watchStorage(nullptr);
        const std::string after = contentOf(image);
        ASSERT_EQ(before == after, base == &gappy) << "only pack leaves what is read as it was";
        ASSERT_EQ(before.substr(0, 5), "DISK|") << before;
        const auto& steps = recorder.steps;
        for (std::size_t cut = 0; cut <= steps.size(); ++cut) {
            if (cut < steps.size() && steps[cut].kind != Step::Flush) {
                continue;
            }
            for (unsigned variant = 0; variant < 12; ++variant) {
                const auto [lost, left] = afterPowerLoss(*base, steps, cut, variant);
                dir.write("disk.lif", lost);
                std::filesystem::remove(journal);
                if (left) {
                    dir.write(journal.filename().string(), *left);
                }
                EXPECT_EQ(lif::VolumeReader(image).recovery().empty(), !left) << "the rollback is said";
                const std::string seen = contentOf(image);
                EXPECT_TRUE(seen == before || seen == after)
                    << "cut at step " << cut << " of " << steps.size() << ", variant " << variant << ": " << seen;
                EXPECT_FALSE(std::filesystem::exists(journal));
            }
        }
    }
}
