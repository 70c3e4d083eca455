#pragma once

#include <QByteArray>
#include <QUrl>

#include <optional>

namespace orva {

// Writes a clockwise quarter-turn rotation into the file itself: the orientation value of a
// JPEG, TIFF, HEIC or HEIF (compressed data untouched), or the re-encoded pixels of a
// single-frame PNG or BMP. True when the file now holds the rotation; false (file
// untouched) for every other type and every failure, including a file that cannot be
// replaced safely. Synchronous; runs on a background task.
bool saveRotation(const QUrl &url, int quarterTurns);

// The new bytes of a file turned by quarter turns, by the rules above; absent when this
// kind of file cannot hold the rotation. `fileName` gives the type when content does not.
std::optional<QByteArray> rotatedFileContents(const QByteArray &file, const QString &fileName,
                                              int quarterTurns);

} // namespace orva
