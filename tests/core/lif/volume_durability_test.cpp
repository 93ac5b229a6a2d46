// A volume change cut off by a power loss at any flush: every image the disk
// could then hold (writes since the last flush of their file dropped, kept,
// or torn at 512-byte sectors; a journal made or removed only once its
// folder was flushed), opened as the next command opens it, reads as the
// volume before the change or after it, and nothing else.

#include "core/base/failure.h"
#include "core/lif/lif.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <random>

using namespace varnook;
using namespace varnook::test;
using lif::detail::Store;

namespace {

using Step = lif::detail::StorageStep;
using Kind = Step::Kind;

// The image and journal a power loss before step `cut` may leave. A step is
// durable when its file (the folder, for a journal made or removed) was
// flushed after it; any other is chosen by the variant: 0 drops all, 1 keeps
// all, others choose at random, writes sector by sector.
std::pair<Bytes, std::optional<Bytes>> afterPowerLoss(Bytes image, const std::vector<Step>& steps, std::size_t cut,
                                                      unsigned variant)
{
    std::mt19937 random(variant * 7919 + static_cast<unsigned>(cut));
    const auto kept = [&](std::size_t i, Store store) {
        return std::any_of(steps.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                           steps.begin() + static_cast<std::ptrdiff_t>(cut),
                           [&](const Step& s) { return s.kind == Kind::Flush && s.store == store; }) ||
               variant == 1 || (variant > 1 && random() % 2 == 0);
    };
    std::optional<Bytes> journal;
    for (std::size_t i = 0; i < cut; ++i) {
        const Step& s = steps[i];
        Bytes* file = s.store == Store::Image ? &image : journal ? &*journal : nullptr;
        if (s.kind == Kind::Remove || (s.kind == Kind::Resize && s.store == Store::Journal)) {
            if (kept(i, Store::Folder)) {
                journal = s.kind == Kind::Remove ? std::nullopt : std::optional<Bytes>(Bytes{});
            }
        } else if (file != nullptr && s.kind == Kind::Resize && kept(i, s.store)) {
            file->resize(static_cast<std::size_t>(s.offset), 0x00);
        }
        for (std::uint64_t at = s.offset, end = at + s.bytes.size(); file && at < end; at = (at / 512 + 1) * 512) {
            const std::uint64_t to = std::min(end, (at / 512 + 1) * 512); // to the sector's end
            if (kept(i, s.store)) {
                file->resize(std::max<std::size_t>(file->size(), to), 0x00);
                std::copy_n(s.bytes.begin() + static_cast<std::ptrdiff_t>(at - s.offset), to - at,
                            file->begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
    }
    return {image, journal};
}

// What the volume holds as a user reads it: its label, each file's name,
// type and blocks, and the bytes after the volume's end.
using Content = std::vector<std::string>;
Content contentOf(const std::filesystem::path& path)
{
    const auto bytes = [](ByteView b) { return std::string(b.begin(), b.end()); };
    try {
        const lif::VolumeReader reader(path);
        const lif::Volume& volume = reader.volume();
        std::vector<std::string> files{volume.damage()};
        for (const auto& file : volume.files) {
            files.push_back(file.name + " " + lif::typeName(file.type) + " " + bytes(reader.fileBlocks(file)));
        }
        std::sort(files.begin(), files.end());
        const Bytes image = reader.image();
        files.push_back(volume.label + " then " +
                        bytes(ByteView(image).subspan(std::min<std::size_t>(volume.blocks * 256, image.size()))));
        return files;
    } catch (const Failure& e) {
        return {std::string("failure: ") + e.what()};
    }
}

// Random blocks of the files F1, F2, ... of these block counts.
Bytes blocksOf(std::size_t blocks, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(blocks * 256);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    return bytes;
}

// A volume of the blocks holding files of these block counts, the entries
// listed purged, and bytes after its end.
Bytes volumeOf(std::uint32_t blocks, std::initializer_list<std::size_t> sizes,
               std::initializer_list<std::ptrdiff_t> purged)
{
    Bytes image = lif::newVolumeImage("DISK", blocks, 1, {});
    unsigned n = 0;
    for (const std::size_t size : sizes) {
        ++n;
        const std::string name = std::string("F").append(std::to_string(n));
        lif::putFile(image, lif::newEntry(name, 0xE961, {}), blocksOf(size, n), false);
    }
    for (const std::ptrdiff_t slot : purged) {
        std::fill_n(image.begin() + 512 + 32 * slot + 10, 2, 0x00); // type 0000
    }
    image.resize(blocks * 256, 0x00);
    image.resize(image.size() + 300, 0xEE);
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
    const auto put = [](const char* name, std::size_t blocks, bool replace) {
        return [=](lif::VolumeUpdate& v) { v.insert(lif::newEntry(name, 0xE961, {}), blocksOf(blocks, 99), replace); };
    };
    // What is changed: the file (or label) whose line alone may differ, the volume, the change.
    const std::tuple<const char*, const Bytes*, std::function<void(lif::VolumeUpdate&)>> changes[] = {
        {"NEW", &full, put("NEW", 1, false)},
        {"F1", &full, put("F1", 1, true)},
        {"F7", &full, put("F7", 2, true)}, // fits only in the old blocks
        {"F6", &full, [](lif::VolumeUpdate& v) { v.rename("F6", "SIX"); }},
        {"F2", &full, [](lif::VolumeUpdate& v) { v.purge("F2"); }},
        {"DISK", &full, [](lif::VolumeUpdate& v) { v.setLabel("WORK"); }},
        {"pack", &gappy, [](lif::VolumeUpdate& v) { v.pack(); }},
    };
    TempDir dir;
    const auto image = dir / "disk.lif";
    const auto journal = lif::journalOf(image);
    for (const auto& [what, base, change] : changes) {
        SCOPED_TRACE(what);
        dir.write("disk.lif", *base);
        const Content before = contentOf(image);
        std::vector<Step> steps;
        std::deque<Bytes> written; // what the steps' bytes show
        lif::detail::watchStorage([&](const Step& s) {
            steps.push_back({s.kind, s.store, s.offset, written.emplace_back(s.bytes.begin(), s.bytes.end())});
        });
        EXPECT_NO_THROW(change(*std::make_unique<lif::VolumeUpdate>(image)));
        lif::detail::watchStorage(nullptr);
        const Content after = contentOf(image);
        ASSERT_EQ(before == after, base == &gappy) << "only pack leaves what is read as it was";
        ASSERT_GE(steps.size(), base == &gappy ? 20u : 2u) << "pack moves files and rewrites the directory";
        for (const auto& line : before) {
            EXPECT_TRUE(line.starts_with(what) || std::find(after.begin(), after.end(), line) != after.end()) << line;
        }
        ASSERT_EQ(before.front(), "") << before.front(); // no damage
        for (std::size_t cut = 0; cut <= steps.size(); ++cut) {
            if (cut < steps.size() && steps[cut].kind != Kind::Flush) {
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
                const Content seen = contentOf(image);
                EXPECT_TRUE(seen == before || seen == after)
                    << "cut at step " << cut << " of " << steps.size() << ", variant " << variant << ": "
                    << ::testing::PrintToString(seen);
                EXPECT_FALSE(std::filesystem::exists(journal));
            }
        }
    }
}
