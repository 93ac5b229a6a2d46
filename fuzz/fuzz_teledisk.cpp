// The TeleDisk reader on any bytes: a volume's blocks or a clean refusal,
// never a crash, and never more blocks than the capture's bytes could hold
// (through advanced compression, than a floppy disk holds).

#include "capture_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnook;
    // The first byte picks the header: normal or advanced compression (LZW
    // before version 2.0, LZSS after it), with a comment or without.
    if (size == 0) {
        return 0;
    }
    const int packing = data[0] % 3;
    Bytes file = {static_cast<std::uint8_t>(packing == 0 ? 'T' : 't'),
                  static_cast<std::uint8_t>(packing == 0 ? 'D' : 'd'),
                  0,
                  0,
                  static_cast<std::uint8_t>(packing == 1 ? 0x15 : 0x21),
                  0,
                  3,
                  static_cast<std::uint8_t>(data[0] & 0x80),
                  0,
                  2};
    const std::uint16_t crc = lif::teleDiskCrc(file);
    file.push_back(static_cast<std::uint8_t>(crc));
    file.push_back(static_cast<std::uint8_t>(crc >> 8));
    file.insert(file.end(), data + 1, data + size);
    try {
        checkCapture(lif::decodeTeleDisk(file),
                     packing == 0 ? 256 * (file.size() + 1024) : 256 * lif::kMostCapturedBlocks);
    } catch (const Failure&) {
    }
    return 0;
}
