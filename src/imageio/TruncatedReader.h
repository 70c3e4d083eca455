#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace orva {

// An interrupted download: a JPEG or PNG file (Qt format name "jpeg" or "png") whose data
// stops before the format's end marker.
bool endsBeforeItsEndMarker(const QString &path, const QByteArray &qtFormat);

// What can be decoded of such a file, through libjpeg or libpng directly: the rows the
// data reaches, the rest transparent so the background shows. A JPEG is reduced by
// libjpeg's M/8 steps towards `bound`; a PNG is decoded whole. 8 bits per channel with
// premultiplied alpha and the embedded colour profile; the stored orientation is not
// applied. Absent when even the header cannot be read or the image is beyond the decode
// limits.
std::optional<QImage> readTruncatedImage(const QString &path, const QByteArray &qtFormat,
                                         int bound);

// A whole JPEG decoded by libjpeg straight at the M/8 step at or above `bound` (Qt's reader
// takes the power-of-two step below and rescales): RGB32 with the embedded colour profile,
// orientation not applied. Absent when the data is damaged or ends early, for Qt's reader
// and the interrupted-download path to handle.
std::optional<QImage> readJpegReduced(const QString &path, int bound);

} // namespace orva
