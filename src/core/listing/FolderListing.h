#pragma once

#include "core/model/Enums.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <optional>

namespace orva {

class ImageService;
class Settings;

// A file's path as the file system's bytes. Names that are not valid UTF-8 survive: the
// URL keeps them percent-encoded, which toLocalFile() would turn into U+FFFD.
QByteArray localPath(const QUrl &url);
// The file URL of a path given as bytes; equal to QUrl::fromLocalFile for UTF-8 paths.
QUrl fileUrlFromLocalPath(const QByteArray &path);
// An entry of a folder, without doubling the separator of the root folder.
QUrl childFileUrl(const QUrl &folder, const QByteArray &name);

// The standardized form of a file URL: absolute, clean path.
QUrl standardizedFileUrl(const QUrl &url);
// The folder holding a file, standardized.
QUrl folderOf(const QUrl &file);

// The sort order in the settings; anything that names no order gives `name`.
SortOrder currentSortOrder(const Settings &settings);

// The image files of a folder in display order: visible regular files with a supported
// extension, plus `including` when it exists but the filter dropped it (a hidden file the
// user opened). Absent when the folder cannot be read. Slow: reads the folder and, for
// `dateTaken`, every file's metadata; run it on a background task.
std::optional<QList<QUrl>> listImageFiles(const QUrl &folder, const std::optional<QUrl> &including,
                                          SortOrder order, bool descending,
                                          const ImageService &images);

// Sorts like a file browser by name (case-insensitive, digit runs by value, in the user's
// language), or by date taken (falling back to the modification date) or modification
// date with name as the tie-break. Stable; descending reverses the ascending order whole.
QList<QUrl> sortImageFiles(const QList<QUrl> &files, SortOrder order, bool descending,
                           const ImageService &images);

} // namespace orva
