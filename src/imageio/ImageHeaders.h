#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace orva {

// Bits per sample and colour model as a file's own header states them. Decoders widen
// what they read (grey with alpha arrives as RGBA, a 4-bit palette as 8 bits per pixel),
// so the panel asks the header instead.
struct HeaderDepthAndModel {
    std::optional<int> depth;
    std::optional<QString> model; // "RGB" or "Gray"
};

// For PNG (and APNG), GIF, WebP and BMP headers; absent for anything else. `head` is the
// start of the file; 64 bytes are enough.
std::optional<HeaderDepthAndModel> depthAndModelFromHeader(const QByteArray &head);

// The same, reading the start of the file at `path`.
std::optional<HeaderDepthAndModel> readHeaderDepthAndModel(const QString &path);

} // namespace orva
