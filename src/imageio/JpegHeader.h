#pragma once

#include <QIODevice>
#include <QList>

#include <optional>

namespace orva {

// What a JPEG's frame header says, read from the markers before the first scan.
struct JpegFrame {
    int width = 0;
    int height = 0;
    bool progressive = false; // every scan of the image is buffered before output
    struct Component {
        int h = 1; // sampling factors
        int v = 1;
    };
    QList<Component> components;
};

// Walks the markers of the first megabyte; absent when no frame header is found there.
std::optional<JpegFrame> readJpegFrame(QIODevice &device);

// Bytes libjpeg keeps for the whole image's DCT coefficients when it must buffer them
// (progressive and multi-scan files), whatever output scale is asked for; 0 otherwise.
qint64 jpegCoefficientBytes(const JpegFrame &frame);

} // namespace orva
