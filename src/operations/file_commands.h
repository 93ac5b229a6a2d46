#pragma once

#include "window_operations.h"

#include "core/text/code_page.h"

#include <string>

namespace varnook {

// Loads a program file into the document: as HP BASIC ASCII or as TXT
// (numbered when wanted) by the window's read option. An empty name asks
// the user in the open dialog; a dropped file's name reads it at once. The
// file read is remembered under Load/Dir. A file whose content disagrees
// with the read option is read as what it is, when the user agrees. A
// failure ends it through the error path, which says why.
// volumeFile: for a disk image, the file of it to read (as the volume names
// it) without showing the disk view.
void ReadProgramFile(WindowOperations& window, const CodePage& codePage, const std::string& fileName,
                     const std::string& volumeFile = {});

// Writes the document to a file the user names, as TXT or as HP BASIC
// ASCII by the window's write option. Text with a character that is not a
// single byte is refused with a warning before any dialog. True when the
// document was written.
bool WriteProgramFile(WindowOperations& window, const CodePage& codePage, const std::string& text);

} // namespace varnook
