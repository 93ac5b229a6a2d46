#pragma once

#include "core/base/bytes.h"
#include "core/text/code_page.h"
#include "core/base/progress.h"

#include <cstdint>

namespace varnook::cli {

// Text, an HP BASIC ASCII program file, or a bare LIF ASCII file (the
// records of an ASCII file of a volume, ended by the length FFFF).
enum class Format { Txt, Hp, LifAscii };

struct Conversion {
    Format from = Format::Txt;
    Format to = Format::Hp;
    bool lineNumbers = false;
    std::int32_t start = 10;
    std::int32_t step = 10;
    bool lenient = false; // a damaged program file read by the lenient rule
};

// Progress of a conversion, told which phase the positions belong to.
class ConversionProgress : public Progress {
public:
    virtual void phase(const char* name, std::size_t total) = 0;
};

// Refuses an input that is not what --from says it is (a program file, a
// bare LIF ASCII file or a disk image read as text, anything else read as
// one of the first two): a Failure that says how to read it.
void refuseFormatMismatch(ByteView input, Format from);

// The steps the window takes, through the document text.
Bytes convertThroughText(Bytes input, const Conversion& conversion, const CodePage& codePage,
                         ConversionProgress* progress = nullptr);

// The steps the window takes for Read File and then Write File, in one call:
// the same functions, so the same bytes. Throws Failure.
Bytes convert(Bytes input, const Conversion& conversion, const CodePage& codePage,
              ConversionProgress* progress = nullptr);

} // namespace varnook::cli
