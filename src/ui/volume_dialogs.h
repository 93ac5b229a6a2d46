#pragma once

#include "core/lif/lif.h"

#include <optional>
#include <string>

class QWidget;

namespace varnook::ui {

// Lists the files of a LIF volume (name, type, blocks, date); only ASCII
// files can be chosen, the others are shown greyed. The chosen file's name,
// or nothing when the user cancelled.
std::optional<std::string> chooseVolumeFile(QWidget* owner, const lif::Volume& volume);

// Asks for the name of the file to write into the volume, starting from
// offered, and says whether it adds a file or replaces one. A name taken by
// a file of another type cannot be chosen.
std::optional<std::string> askVolumeFileName(QWidget* owner, const lif::Volume& volume, const std::string& offered);

} // namespace varnook::ui
