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

// The canonical names of the MIME types behind those extensions, sorted: what the desktop
// entry announces.
QStringList supportedImageMimeTypes();

// A file URL, not naming a directory, whose lower-cased extension is supported. Opens no
// file; only asks the file system whether the path is a directory.
bool isSupportedImageFile(const QUrl &url);

// A path for a file URL that Qt and the decoder libraries can open. A name that is not
// valid UTF-8 has no QString that maps back to its bytes; such a file is reached through
// a private symbolic link with the same extension, which lives as long as this object.
class ReadablePath {
public:
    explicit ReadablePath(const QUrl &url);
    ~ReadablePath();
    ReadablePath(const ReadablePath &) = delete;
    ReadablePath &operator=(const ReadablePath &) = delete;
    // Empty when the URL names no local file or no link could be made.
    const QString &path() const { return path_; }

private:
    QString path_;
    QByteArray link_;
};

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
