// The capture readers (ImageDisk, TeleDisk) on any bytes: a volume's blocks
// or a clean refusal, never a crash, and never more blocks than the
// capture's bytes could hold. What they decode lists as any plain image does.

#include "check.h"

#include "core/disk_image.h"
#include "core/failure.h"
#include "core/lif.h"
#include "core/structure_check.h"

using namespace varnook;

namespace {

void check(const lif::DecodedImage& image, std::size_t size)
{
    FUZZ_CHECK(image.blocks.size() % 256 == 0 && image.blocks.size() <= 256 * (size + 1024));
    for (const auto block : image.absent) {
        FUZZ_CHECK(block * std::uint64_t{256} < image.blocks.size());
    }
    try {
        lif::Volume volume = lif::parseImage(image.blocks);
        lif::markAbsentBlocks(volume, image);
    } catch (const Failure&) {
    }
    checkVolumeImage(image.blocks);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte picks the reader; each gets a header it accepts.
    if (size == 0) {
        return 0;
    }
    Bytes file;
    if (data[0] % 2 == 0) {
        const char header[] = "IMD 1.18\x1A";
        file.assign(header, header + sizeof header - 1);
    } else {
        file = {'T', 'D', 0, 0, 0x15, 0, 3, static_cast<std::uint8_t>(data[0] & 0x80), 0, 2};
        const std::uint16_t crc = lif::teleDiskCrc(file);
        file.push_back(static_cast<std::uint8_t>(crc));
        file.push_back(static_cast<std::uint8_t>(crc >> 8));
    }
    file.insert(file.end(), data + 1, data + size);
    try {
        check(data[0] % 2 == 0 ? lif::decodeImageDisk(file) : lif::decodeTeleDisk(file), file.size());
    } catch (const Failure&) {
    }
    return 0;
}
