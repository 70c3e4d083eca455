#pragma once

#include "core/model/ImageProperties.h"
#include "core/model/MetadataEntry.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QUrl>

#include <optional>

namespace orva {

class ImageService;

// The rows of the metadata overlay for a file: its size on disk, then whatever the image
// layer reports. Touches the file system; call from a background task.
QList<MetadataEntry> readMetadataEntries(const QUrl &url, const ImageService &images);

// The overlay rows for values already read. A row whose values are missing or unusable is
// left out rather than shown empty.
QList<MetadataEntry> formatMetadataEntries(std::optional<qint64> fileSize,
                                           const std::optional<ImageProperties> &props,
                                           const QLocale &locale = QLocale());

// "2.4 MB", "512 bytes": decimal units with as many digits as a file browser shows.
QString formatFileSize(qint64 bytes, const QLocale &locale);

// An EXIF "yyyy:MM:dd HH:mm:ss" stamp as local time; absent unless the whole text is such a
// stamp of a real date and time. Safe to call from any thread.
std::optional<QDateTime> parseExifDate(const QString &text);

// When the picture was taken, from the file's EXIF original date; absent when unknown.
std::optional<QDateTime> dateTaken(const QUrl &url, const ImageService &images);

} // namespace orva
