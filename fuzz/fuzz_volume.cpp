// The volume reader and the structure check on any bytes: a listing or a
// clean refusal, never a crash. A volume the reader accepts keeps its files
// inside the volume and apart from each other (in any order), and the check
// finds nothing wrong with its structure. Names
// are shown without a byte that could leave a folder or reach a terminal.

#include "check.h"

#include "core/failure.h"
#include "core/lif.h"
#include "core/structure_check.h"

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
        std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
        for (const auto& file : volume.files) {
            FUZZ_CHECK(file.start >= volume.firstDataBlock() &&
                       file.start + std::uint64_t{file.blocks} <= volume.blocks);
            if (file.blocks > 0) {
                spans.emplace_back(file.start, file.start + std::uint64_t{file.blocks});
            }
            lif::formatDate(file.date);
            const std::string shown = lif::shownName(file.name);
            FUZZ_CHECK(!shown.empty() && shown != "." && shown != ".." && shown[0] != '-');
            for (const char c : shown) {
                FUZZ_CHECK(c > 0x20 && c < 0x7F && c != '/' && c != '\\');
            }
        }
        std::sort(spans.begin(), spans.end());
        for (std::size_t i = 1; i < spans.size(); ++i) {
            FUZZ_CHECK(spans[i - 1].second <= spans[i].first);
        }
        for (const auto& finding : findings) { // about content, names, dates, geometry: never the structure
            FUZZ_CHECK(finding.text.find("overlaps") == std::string::npos &&
                       finding.text.find("lies outside") == std::string::npos);
        }
    } catch (const Failure&) {
        FUZZ_CHECK(!findings.empty());
    }
    return 0;
}
