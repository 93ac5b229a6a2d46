// The volume reader and the structure check on any bytes: a listing or a
// clean refusal, never a crash. Of a volume the reader accepts, every file
// not marked damaged lies inside the volume and the image and shares no block
// with any other file (entries in any order); the check reports every
// damaged one and nothing else about the structure. Names
// are shown without a byte that could leave a folder or reach a terminal.

#include "check.h"

#include "core/base/failure.h"
#include "core/lif/lif.h"
#include "core/lif/structure_check.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace varnook;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView image(data, size);
    checkProgramFile(image);
    const auto findings = checkVolumeImage(image);
    try {
        const lif::Volume volume = lif::parseImage(image);
        std::size_t damaged = 0;
        for (const auto& file : volume.files) {
            const std::uint64_t end = file.start + std::uint64_t{file.blocks};
            damaged += file.damage.empty() ? 0 : 1;
            if (file.damage.empty()) {
                FUZZ_CHECK(file.start >= volume.firstDataBlock() && end <= volume.blocks && end * 256 <= size);
                for (const auto& other : volume.files) {
                    const bool apart = &other == &file || file.blocks == 0 || other.blocks == 0 || other.start >= end ||
                                       other.start + std::uint64_t{other.blocks} <= file.start;
                    FUZZ_CHECK(apart);
                }
            }
            lif::formatDate(file.date);
            const std::string shown = lif::shownName(file.name);
            FUZZ_CHECK(!shown.empty() && shown != "." && shown != ".." && shown[0] != '-');
            for (const char c : shown) {
                FUZZ_CHECK(c > 0x20 && c < 0x7F && c != '/' && c != '\\');
            }
        }
        std::size_t structural = 0;
        for (const auto& finding : findings) {
            structural += finding.text.find(" overlaps file ") != std::string::npos ||
                          finding.text.find(" lies outside ") != std::string::npos ||
                          finding.text.find(" the image ends inside it") != std::string::npos;
        }
        FUZZ_CHECK(structural >= (damaged > 0 ? 1 : 0) && (damaged > 0 || structural == 0));
    } catch (const Failure&) {
        FUZZ_CHECK(!findings.empty());
    }
    return 0;
}
