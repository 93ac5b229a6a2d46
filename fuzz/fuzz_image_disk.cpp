// The ImageDisk reader on any bytes: a volume's blocks or a clean refusal,
// never a crash, and never more blocks than the capture's bytes could hold.
// What it decodes lists as any plain image does.

#include "check.h"

#include "core/disk_image.h"
#include "core/failure.h"
#include "core/lif.h"
#include "core/structure_check.h"

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Most inputs get past the header when it is given to them.
    const char header[] = "IMD 1.18\x1A";
    Bytes file(header, header + sizeof header - 1);
    file.insert(file.end(), data, data + size);
    try {
        const lif::DecodedImage image = lif::decodeImageDisk(file);
        FUZZ_CHECK(image.blocks.size() % 256 == 0 && image.blocks.size() <= 256 * (file.size() + 1024));
        for (const auto block : image.absent) {
            FUZZ_CHECK(block * std::uint64_t{256} < image.blocks.size());
        }
        try {
            lif::Volume volume = lif::parseImage(image.blocks);
            lif::markAbsentBlocks(volume, image);
        } catch (const Failure&) {
        }
        checkVolumeImage(image.blocks);
    } catch (const Failure&) {
    }
    return 0;
}
