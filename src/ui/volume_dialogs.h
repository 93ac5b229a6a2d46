#pragma once

#include "core/lif/lif.h"

#include <optional>
#include <string>

class QWidget;

namespace varnook::ui {

// Asks for the name of the file to write into the volume, starting from
// offered, and says whether it adds a file or replaces one. A name taken by
// a file of another type cannot be chosen.
std::optional<std::string> askVolumeFileName(QWidget* owner, const lif::Volume& volume, const std::string& offered);

} // namespace varnook::ui
