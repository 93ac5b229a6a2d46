// The ImageDisk reader on any bytes: a volume's blocks or a clean refusal,
// never a crash, and never more blocks than the capture's bytes could hold.
// What it decodes lists as any plain image does.

#include "capture_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char header[] = "IMD 1.18\x1A";
    varnook::Bytes file(header, header + sizeof header - 1);
    file.insert(file.end(), data, data + size);
    try {
        checkCapture(varnook::lif::decodeImageDisk(file), 256 * (file.size() + 1024));
    } catch (const varnook::Failure&) {
    }
    return 0;
}
