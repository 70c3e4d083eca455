#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

class QIODevice;

namespace orva {

// imir's stored bit. libheif (which decodes for us and applies imir) exchanges top and bottom
// for 0 and left and right for 1; older wording calling 0 a "vertical axis" reads the other
// way round, so never go by that.
enum class HeifMirror : std::uint8_t { TopBottom = 0, LeftRight = 1 };

// The irot/imir item properties of a HEIF/HEIC/AVIF image, as the file stores them. The
// decoder applies them in association order, so the order is kept.
struct HeifItemTransform {
    int rotationCcwQuarterTurns = 0;  // irot angle, 0..3, counter-clockwise
    std::optional<HeifMirror> mirror; // imir, absent when the item has none
    bool mirrorFirst = false;         // imir is associated before an irot

    friend bool operator==(const HeifItemTransform &, const HeifItemTransform &) = default;
};

// Reads the primary item's irot/imir from the meta box of an ISOBMFF file (HEIF, HEIC, AVIF),
// never touching image data. Absent when the structure is unusable: no leading ftyp, no meta
// or pitm, a box overrunning its parent or the file, an absurd count or size, an association
// with a missing property, or irot/imir associated twice (libheif refuses such a file too).
// A default transform when the primary item has neither property.
// The device must be open and random-access; its position is restored.
std::optional<HeifItemTransform> readHeifPrimaryTransform(QIODevice &file);
// Same, on the file's bytes (or at least its head up to the end of the meta box).
std::optional<HeifItemTransform> readHeifPrimaryTransform(QByteArrayView data);

// The TIFF-structured Exif block of the file's Exif item (the bytes after the item's own
// offset header), located through iinf and iloc alone: a file cut off after its metadata
// still gives it. Absent when there is no such item, it lies beyond the file, or it is
// stored in a way this reader does not follow (inside the meta box, by reference).
std::optional<QByteArray> readHeifExifBlock(QIODevice &file);

// The file with the primary item's irot/imir replaced by `transform`. The new properties
// are appended to ipco and the primary item's associations point at them; every existing
// property and all item data keep their bytes, and item locations behind the meta box move
// by its growth. Absent when the structure is unusable or locations cannot be moved (an
// image sequence track, an offset field too small).
std::optional<QByteArray> withHeifPrimaryTransform(QByteArrayView file,
                                                   const HeifItemTransform &transform);

// The EXIF orientation (1..8) showing the stored pixels as libheif displays them. For HEIF
// files this replaces the EXIF Orientation tag, which must never be applied on top.
int exifOrientation(const HeifItemTransform &t);

// A transform with that EXIF orientation: rotation first, then a mirror if needed. Values
// outside 1..8 give the identity.
HeifItemTransform heifTransformFor(int exifOrientation);

} // namespace orva
