#pragma once

#include "trellis/AboutView.h"

namespace orva {

// Orva's values for the About view.
trellis::AboutInfo orvaAboutInfo();

// Creates the About window on first use and brings the same window forward afterwards;
// closing it only hides it.
QWidget *showAboutWindow();

} // namespace orva
