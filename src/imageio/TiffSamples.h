#pragma once

#include <QImage>
#include <QString>

namespace orva {

// Reads a TIFF whose samples Qt's plugin refuses (32-bit integers, 64-bit floats) through
// libtiff's strip and tile interface: grey or RGB, with an optional alpha sample, into a
// float image of the stored pixels (orientation not applied). Null when the file is
// another kind or breaks the decode limits.
QImage readTiffSamples(const QString &path);

} // namespace orva
