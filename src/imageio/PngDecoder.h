#pragma once

#include <QImage>
#include <QString>

#include <optional>

namespace orva {

// An 8-bit PNG decoded through libspng row by row and reduced on the fly (area averaging)
// to `target` pixels, so that a large file never exists at full size in memory: RGB32, or
// ARGB32_Premultiplied when it has transparency, with its embedded colour profile. The
// stored orientation is not applied. Absent for what it leaves to Qt's reader (16 bits per
// channel, interlacing, gamma without a profile) and for damaged or oversized files.
std::optional<QImage> readPngReduced(const QString &path, QSize target);

} // namespace orva
