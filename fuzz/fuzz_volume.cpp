// The volume reader and the structure check on any bytes: a listing or a
// clean refusal, never a crash. A volume the reader accepts keeps its files
// inside the volume and in order, and the check finds nothing wrong with it
// unless an ASCII file lacks its end mark.

#include "check.h"

#include "core/failure.h"
#include "core/lif.h"
#include "core/structure_check.h"

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView image(data, size);
    checkProgramFile(image);
    const auto findings = checkVolumeImage(image);
    try {
        const lif::Volume volume = lif::parseImage(image);
        std::uint64_t taken = volume.firstDataBlock();
        for (const auto& file : volume.files) {
            FUZZ_CHECK(file.start >= taken && file.start + std::uint64_t{file.blocks} <= volume.blocks);
            taken = file.start + std::uint64_t{file.blocks};
            lif::formatDate(file.date);
        }
        for (const auto& finding : findings) {
            FUZZ_CHECK(finding.text.starts_with("ASCII file "));
        }
    } catch (const Failure&) {
        FUZZ_CHECK(!findings.empty());
    }
    return 0;
}
