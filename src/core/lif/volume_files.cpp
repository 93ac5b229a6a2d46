// Whole volume files: a new one, and a plain image made of any image.

#include "lif.h"

#include "core/io/file_io.h"

#include <algorithm>
#include <system_error>

namespace varnook::lif {

void createVolumeFile(const std::filesystem::path& path, std::string_view label, std::uint32_t blocks,
                      std::uint32_t directoryBlocks, const Date& date)
{
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found) {
        throw Failure("already exists", "; --new-volume never replaces a file", "; a new image never replaces a file");
    }
    ReplacementFile image(path);
    image.write(newVolumeImage(label, blocks, directoryBlocks, date));
    image.extendTo(std::uint64_t{blocks} * kBlockSize);
    image.commit(ReplacementFile::Existing::Refuse);
}

Exported exportPlainImage(const std::filesystem::path& image, const std::filesystem::path& target)
{
    const VolumeReader reader(image);
    const auto& decoded = reader.capture();
    const Bytes blocks = reader.image();
    const Volume volume = parseImage(blocks);
    const std::uint64_t size = volume.blocks * kBlockSize;
    ReplacementFile output(target);
    output.write(ByteView(blocks).first(static_cast<std::size_t>(std::min<std::uint64_t>(blocks.size(), size))));
    output.extendTo(size);
    output.commit();
    Exported exported{{}, reader.recovery()};
    for (std::uint64_t block = 0; decoded && block < volume.blocks; ++block) {
        if (decoded->isAbsent(block)) {
            exported.absent.push_back(static_cast<std::uint32_t>(block));
        }
    }
    return exported;
}

const Medium* mediumOf(const Volume& volume)
{
    const auto* found = std::find_if(std::begin(kMedia), std::end(kMedia),
                                     [&](const Medium& medium) { return medium.blocks == volume.blocks; });
    return found == std::end(kMedia) ? nullptr : found;
}

} // namespace varnook::lif
