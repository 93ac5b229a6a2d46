#pragma once

#include "core/base/bytes.h"

#include <string>

namespace varnook {

// The document area's rule for line breaks: CR LF, a lone CR and a lone LF
// each become one CR LF. Works on UTF-8 and on the bytes of any code page in
// which CR and LF are the ASCII bytes and never part of another character.
std::string normalizeLineBreaks(std::string text);
Bytes normalizeLineBreaks(Bytes bytes);

} // namespace varnook
