#pragma once

// What every capture reader must give: whole blocks, no more than bound
// bytes of them, absent blocks inside them, and a result that the volume
// reader and the structure check take like any plain image.

#include "check.h"

#include "core/capture/disk_image.h"
#include "core/base/failure.h"
#include "core/lif/lif.h"
#include "core/lif/structure_check.h"

inline void checkCapture(const varnook::lif::DecodedImage& image, std::uint64_t bound)
{
    using namespace varnook;
    FUZZ_CHECK(image.blocks.size() % 256 == 0 && image.blocks.size() <= bound &&
               image.blocks.size() <= 256 * lif::kMostCapturedBlocks);
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
