#pragma once

// What the disk view does to a disk image, without Qt: each call opens the
// image anew under its lock and makes one change through the same core calls
// as the command line (in place, under the journal where live blocks are
// overwritten). Each throws Failure, saying why, and then changes nothing.

#include "core/lif/lif.h"
#include "core/text/code_page.h"

#include <optional>
#include <string>

namespace varnook::disk {

// The volume as it is now; recovery gets what opening it said (an
// unfinished change rolled back), if anything.
lif::Volume catalogue(const std::string& image, std::string* recovery = nullptr);

// "9122 (2464 blocks)", or "1000 blocks" for a size no medium has.
std::string mediumText(const lif::Volume& volume);

// The file named as the catalogue shows it, written to target: in the LIF
// exchange form (its entry, then its blocks), or its bare blocks.
void extract(const std::string& image, const std::string& name, const std::string& target, bool bare);

// A file brought to the volume: what it is read as, and under which name.
struct Arrival {
    enum Kind { Exchange, Program } kind = Program;
    std::string name; // the LIF name (Exchange: the entry's)
    lif::EntryBytes entry{}; // Exchange only
    Bytes content; // the blocks (Exchange) or the ASCII file (Program)
};
// Reads a file to insert: a single file as LIF tools exchange them goes in
// as it is; an HP BASIC ASCII program file, a bare LIF ASCII file or text
// (in the code page) goes in as an ASCII file named after the file, when
// that name is a valid one (else name is empty: the user gives one). The
// image itself is refused.
Arrival arrivalOf(const std::string& file, const std::string& image, const CodePage& codePage);
// Puts it into the image; a taken name is replaced only when replace is set.
void insert(const std::string& image, const Arrival& arrival, bool replace);

void rename(const std::string& image, const std::string& from, const std::string& to);
void purge(const std::string& image, const std::string& name);
void pack(const std::string& image);
void setLabel(const std::string& image, const std::string& label);
void create(const std::string& image, const std::string& label, std::uint32_t blocks);
// The volume of an image or capture as a plain image; the blocks that were
// missing from a capture and written as zeros, described ("" for none).
std::string exportPlain(const std::string& image, const std::string& target);

} // namespace varnook::disk
