#pragma once

#include "core/base/bytes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnook {

// A place in a text, both counted from 1; columns count characters.
struct TextPosition {
    std::int32_t line = 0;
    std::int32_t column = 0;
};

std::string describe(const TextPosition& position);

// Result of the single-byte check: the bytes when every character of the
// text has a one-byte form, else where the first character that does not.
struct SingleByteText {
    Bytes bytes;
    std::optional<TextPosition> offending;
};

// Why the bytes are UTF-8 text, in words that finish "it ..." ("begins
// with a UTF-8 byte order mark"); nothing when they are not, or are ASCII
// alone (which every code page reads alike).
std::optional<std::string> utf8Evidence(ByteView bytes);

// The code page through which text and file bytes are related (the Windows
// "ANSI" code page). Converts between it and UTF-8 and never substitutes:
// what has no counterpart is a Failure that says where it is.
class CodePage {
public:
    // A code page's name ("windows-1252", "windows-932", "hp-roman8", ...),
    // or another name ICU gives it ("cp1252", "shift_jis", "latin1"). Throws
    // Failure for an unknown name, listing the known ones.
    static CodePage named(std::string_view name);
    // The code pages there are: "windows-1252, windows-1250, ...".
    static std::string knownNames();
    // The same names, one by one.
    static std::vector<std::string> names();

    // The Windows code page the locale (LC_ALL, else LC_CTYPE, else LANG) implies.
    static CodePage fromEnvironment();
    static std::string nameForLocale(std::string_view locale);

    const std::string& name() const;
    bool isSingleByte() const;

    std::string toUtf8(ByteView bytes) const;

    // True when the bytes come back unchanged through toUtf8 and fromUtf8 and
    // CR and LF are the ASCII bytes: then the bytes can stand for their text.
    bool carriesUnchanged(ByteView bytes) const;
    Bytes fromUtf8(std::string_view text) const;

    // Converts text of which every character must be one byte.
    SingleByteText toSingleBytes(std::string_view text) const;

private:
    struct Impl;
    explicit CodePage(std::shared_ptr<const Impl> impl);
    std::shared_ptr<const Impl> impl_;
};

} // namespace varnook
