#pragma once

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <exiv2/exiv2.hpp>

#include <algorithm>

namespace orva::bench {

// Gradients, shapes and fine noise: compresses and decodes like a photo, not like a flat
// test card.
inline QImage photoLike(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(40, 70, 120));
    g.setColorAt(0.5, QColor(200, 170, 120));
    g.setColorAt(1, QColor(30, 90, 40));
    p.fillRect(img.rect(), g);
    QRandomGenerator rng(42);
    for (int i = 0; i < 400; ++i) {
        p.setBrush(QColor::fromHsv(int(rng.bounded(360)), 120, 200, 120));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(rng.bounded(w), rng.bounded(h)), rng.bounded(w / 10) + 5,
                      rng.bounded(h / 10) + 5);
    }
    p.end();
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(rng.bounded(24)) - 12;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                           std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    return img;
}

// Gives the JPEG at `file` a 160 x 120 Exif thumbnail of `photo`, as cameras write them.
inline void addExifThumbnail(const QString &file, const QImage &photo)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    photo.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .save(&buffer, "JPEG", 90);
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(file).toStdString());
        image->readMetadata();
        Exiv2::ExifThumb(image->exifData())
            .setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(jpeg.constData()),
                              long(jpeg.size()));
        image->writeMetadata();
    } catch (const std::exception &) {
    }
}

} // namespace orva::bench
