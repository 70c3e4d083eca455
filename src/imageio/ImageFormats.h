#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <vector>

namespace orva {

// One row of the formats the settings window offers a default application for.
struct ImageFormat {
    QString name;
    QStringList extensions; // lower case, in order

    // The fixed table, 17 rows; it does not limit what Orva opens.
    static const std::vector<ImageFormat> &all();
};

// Which decoder reads a file. Chosen before any decoder touches the file.
enum class DecoderKind {
    qt,   // Qt's image plugins: JPEG, PNG, GIF, BMP, ICO, TIFF, WebP, ...
    heif, // libheif: HEIC, HEIF, AVIF
    raw,  // LibRaw: camera raw formats
    psd,  // Orva's reader of the flattened Photoshop composite
};

// Every lower-case extension some decoder reads. Built once, thread-safely, from what the
// decoders report; never changes afterwards.
const QSet<QString> &supportedImageExtensions();

// A file URL, not naming a directory, whose lower-cased extension is supported. Opens no
// file; only asks the file system whether the path is a directory.
bool isSupportedImageFile(const QUrl &url);

// The decoder for a file: by the type its extension names for camera raw (whose files look
// like TIFF inside), otherwise by content, falling back to the extension.
DecoderKind decoderKindFor(const QString &path);
// The same with the file's MIME type already known (see imageMimeType).
DecoderKind decoderKindFor(const QString &path, const QString &mimeType);

// Canonical MIME type name of the file, by content first, then by name.
QString imageMimeType(const QString &path);

// Type groups, by MIME inheritance.
bool isAnimatedImageType(const QString &mimeType);     // GIF, PNG, WebP
bool isOrientationTaggedType(const QString &mimeType); // JPEG, HEIC, HEIF, TIFF
bool isPixelRotatedType(const QString &mimeType);      // PNG, BMP

} // namespace orva
