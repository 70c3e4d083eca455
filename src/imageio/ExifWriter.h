#pragma once

#include <QByteArray>

#include <optional>

namespace orva {

// Metadata rewrites of whole files held in memory, through Exiv2. Every result is the new
// file's bytes, absent when Exiv2 cannot read or write the file.

// The Exif orientation as Exiv2 reads it (any numeric type, wherever the block is); 1 when
// the file has none or an out-of-range one, which decoders show unturned too.
std::optional<int> readStoredOrientation(const QByteArray &file);

// A JPEG or TIFF with its orientation turned by quarter turns (clockwise). Only the
// metadata changes: the compressed image data is copied byte for byte. An XMP orientation
// follows the Exif one.
std::optional<QByteArray> withRotatedOrientation(const QByteArray &file, int quarterTurns);

// `encoded` (a freshly encoded PNG) with the Exif, IPTC and XMP of `original`, less what
// no longer holds for turned pixels: orientation, pixel size and the Exif thumbnail.
// `encoded` unchanged when the original has no such metadata.
std::optional<QByteArray> withMetadataOf(const QByteArray &original, const QByteArray &encoded);

} // namespace orva
