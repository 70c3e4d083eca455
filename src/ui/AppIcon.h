#pragma once

#include <QIcon>

namespace orva {

// Orva's icon, for windows and the About window: the desktop's icon theme first (an installed
// Orva puts its icon there), otherwise the copy built into the binary.
QIcon appIcon();

} // namespace orva
