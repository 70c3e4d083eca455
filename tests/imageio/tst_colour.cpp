#include "core/view/DisplayPixels.h"
#include "imageio/ImageDecoding.h"
#include "support/ImageFixtures.h"
#include "support/TestFolder.h"

#include <QColorSpace>
#include <QFile>
#include <QSet>
#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

const QColorSpace linearSrgb(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Linear);
const QColorSpace displayP3(QColorSpace::Primaries::DciP3D65, QColorSpace::TransferFunction::SRgb);

// Vertical stripes of grey 16-bit signal values, 64 pixels wide each.
QImage greyPatches(const QList<double> &signal)
{
    QImage image(int(signal.size()) * 64, 64, QImage::Format_RGBX64);
    for (int y = 0; y < image.height(); ++y) {
        auto *px = reinterpret_cast<quint16 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < 4; ++c)
                px[4 * x + c] = c == 3 ? 0xffff : quint16(std::lround(signal[x / 64] * 65535));
    }
    return image;
}

// Grey level of each patch's centre as the view would draw it.
QList<int> shownPatches(const QImage &bitmap, int count)
{
    const QImage shown = toDisplayPixels(bitmap);
    QList<int> out;
    for (int i = 0; i < count; ++i)
        out << qGreen(shown.pixel(shown.width() * (2 * i + 1) / (2 * count), shown.height() / 2));
    return out;
}

float brightestValue(const QImage &image)
{
    const QImage f = image.convertToFormat(QImage::Format_RGBX32FPx4);
    float peak = 0;
    for (int y = 0; y < f.height(); ++y) {
        const auto *px = reinterpret_cast<const float *>(f.constScanLine(y));
        for (int x = 0; x < f.width() * 4; ++x)
            peak = std::max(peak, px[x]);
    }
    return peak;
}

} // namespace

class TestColour : public QObject {
    Q_OBJECT

    TestFolder folder{{}};
    QString path(const QString &name) const { return folder.dir.filePath(name); }
    QUrl url(const QString &name) const { return folder.url(name); }

private slots:
    // A 16-bit PNG in linear light: its shadows reach the overlay preview as a smooth ramp,
    // not as the dozen steps an 8-bit reduction before the conversion leaves.
    void linearSixteenBitPngKeepsSmoothShadows()
    {
        QImage ramp(1024, 16, QImage::Format_RGBX64);
        for (int y = 0; y < ramp.height(); ++y) {
            auto *px = reinterpret_cast<quint16 *>(ramp.scanLine(y));
            for (int x = 0; x < ramp.width(); ++x)
                for (int c = 0; c < 4; ++c)
                    px[4 * x + c] = c == 3 ? 0xffff : quint16(0.05 * 65535 * x / 1023);
        }
        ramp.setColorSpace(linearSrgb);
        QVERIFY(writeImage(path(QStringLiteral("linear16.png")), ramp, "PNG"));

        const auto decoded = decodeImage(url(QStringLiteral("linear16.png")), 2560);
        QVERIFY(decoded && decoded->bitmap);
        QCOMPARE(decoded->bitmap->depth(), 64);
        QCOMPARE(decoded->bitmap->colorSpace(), linearSrgb);
        const QImage &preview = decoded->preview->frames.front().image;
        QCOMPARE(preview.width(), 256);
        QSet<int> levels;
        for (int x = 0; x < preview.width(); ++x)
            levels.insert(qGreen(preview.pixel(x, 1)));
        QVERIFY2(levels.size() >= 50, QByteArray::number(levels.size()));
    }

    // HDR HEIC and AVIF: the signal is brought to linear light with reference white at 1.0
    // and highlights above it, so a PQ or HLG photo is neither washed out nor clipped.
    void hdrTransfersAreToneMapped_data()
    {
        QTest::addColumn<int>("transfer");
        QTest::addColumn<bool>("avif");
        QTest::addColumn<QList<double>>("signal");
        // Signal values for about 5, 203 (reference white), 1000 and 4000 cd/m2.
        QTest::newRow("PQ HEIC") << 16 << false << QList<double>{0.25, 0.58, 0.75, 0.90};
        QTest::newRow("HLG HEIC") << 18 << false << QList<double>{0.17, 0.75, 0.90, 1.0};
    }
    void hdrTransfersAreToneMapped()
    {
        QFETCH(int, transfer);
        QFETCH(bool, avif);
        QFETCH(QList<double>, signal);
        const QString name =
            QStringLiteral("hdr%1.%2").arg(transfer).arg(QLatin1String(avif ? "avif" : "heic"));
        QVERIFY(writeHeif(path(name), greyPatches(signal), 10, avif, 0, transfer));

        const auto decoded = decodeImage(url(name));
        QVERIFY(decoded && decoded->bitmap);
        QVERIFY(brightestValue(*decoded->bitmap) > 3.0f); // the highlights are kept
        const QList<int> g = shownPatches(*decoded->bitmap, int(signal.size()));
        QVERIFY2(g[0] < 90, qPrintable(QString::number(g[0])));                 // shadows stay dark
        QVERIFY2(g[1] >= 215 && g[1] < 250, qPrintable(QString::number(g[1]))); // white is white
        QVERIFY2(g[2] > g[1] && g[3] > g[2], qPrintable(QString::number(g[2])));
        // The overlay preview agrees with the drawing.
        const QImage &preview = decoded->preview->frames.front().image;
        QVERIFY(std::abs(qGreen(preview.pixel(preview.width() * 3 / 8, preview.height() / 2)) -
                         g[1]) <= 3);
    }

    // An animation tagged with a profile looks like the same picture saved as a still.
    void animatedFramesAreColourConverted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("animated WebP") << QStringLiteral("anim.webp");
        QTest::newRow("animated PNG") << QStringLiteral("anim.png");
    }
    void animatedFramesAreColourConverted()
    {
        QFETCH(QString, name);
        QList<QImage> frames;
        for (const QColor c : {QColor(200, 40, 40), QColor(40, 180, 60)}) {
            QImage f(32, 32, QImage::Format_RGB32);
            f.fill(c);
            f.setColorSpace(displayP3);
            frames << f;
        }
        if (name.endsWith(QLatin1String(".webp"))) {
            QVERIFY(writeAnimatedWebp(path(name), frames, {100, 100}));
        } else {
            QFile file(path(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(buildApng(frames, {100, 100}));
        }
        QVERIFY(writeImage(path(QStringLiteral("still.png")), frames[0], "PNG"));

        const auto still = decodeImage(url(QStringLiteral("still.png")));
        const auto animated = decodeImage(url(name));
        QVERIFY(still && animated);
        QCOMPARE(int(animated->image->frames.size()), 2);
        const QRgb expected = toDisplayPixels(*still->bitmap).pixel(16, 16);
        QVERIFY(qRed(expected) > 210); // P3 red is beyond sRGB red: the conversion shows
        const QRgb got = animated->image->frames.front().image.pixel(16, 16);
        QVERIFY2(std::abs(qRed(got) - qRed(expected)) <= 2 &&
                     std::abs(qGreen(got) - qGreen(expected)) <= 2 &&
                     std::abs(qBlue(got) - qBlue(expected)) <= 2,
                 qPrintable(QStringLiteral("%1 vs %2").arg(got, 0, 16).arg(expected, 0, 16)));
    }
};

QTEST_GUILESS_MAIN(TestColour)
#include "tst_colour.moc"
