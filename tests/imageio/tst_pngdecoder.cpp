#include "imageio/ImageDecoding.h"

#include <QTemporaryDir>
#include <QtTest>

#include <spng.h>

#include <cstdlib>

using namespace orva;

namespace {

// A PNG whose every row uses one filter type, written by libspng's encoder.
QByteArray pngWithFilter(const QImage &image, int filterChoice)
{
    const bool alpha = image.hasAlphaChannel();
    const QImage rows =
        image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    spng_ctx *c = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(c, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(c, SPNG_FILTER_CHOICE, filterChoice);
    spng_ihdr ihdr{uint32_t(rows.width()),
                   uint32_t(rows.height()),
                   8,
                   uint8_t(alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR),
                   0,
                   0,
                   0};
    spng_set_ihdr(c, &ihdr);
    QByteArray packed;
    for (int y = 0; y < rows.height(); ++y)
        packed.append(reinterpret_cast<const char *>(rows.constScanLine(y)),
                      rows.width() * (alpha ? 4 : 3));
    int err = spng_encode_image(c, packed.constData(), size_t(packed.size()), SPNG_FMT_PNG,
                                SPNG_ENCODE_FINALIZE);
    size_t length = 0;
    void *bytes = err ? nullptr : spng_get_png_buffer(c, &length, &err);
    QByteArray out(static_cast<const char *>(bytes), qsizetype(length));
    std::free(bytes);
    spng_ctx_free(c);
    return out;
}

} // namespace

// Large PNGs are reduced while they are decoded: the result must be what a filtered
// reduction of the whole image gives, with transparency premultiplied.
class TestPngDecoder : public QObject {
    Q_OBJECT

private slots:
    void reducesWhileDecoding_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QColor>("right");
        QTest::addColumn<int>("expectedFormat");
        QTest::newRow("rgb") << int(QImage::Format_RGB32) << QColor(Qt::blue)
                             << int(QImage::Format_RGB32);
        QTest::newRow("rgba") << int(QImage::Format_ARGB32) << QColor(0, 0, 255, 0)
                              << int(QImage::Format_ARGB32_Premultiplied);
        // Qt writes a transparency chunk with every palette.
        QTest::newRow("palette") << int(QImage::Format_Indexed8) << QColor(Qt::blue)
                                 << int(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("grey") << int(QImage::Format_Grayscale8) << QColor(Qt::black)
                              << int(QImage::Format_RGB32);
    }
    void reducesWhileDecoding()
    {
        QFETCH(int, format);
        QFETCH(QColor, right);
        QFETCH(int, expectedFormat);
        // Reduced by 3 in both directions.
        QImage image(300, 90, QImage::Format_ARGB32);
        image.fill(Qt::white);
        for (int y = 0; y < 90; ++y)
            for (int x = 150; x < 300; ++x)
                image.setPixelColor(x, y, right);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("r.png"));
        QVERIFY(image.convertToFormat(QImage::Format(format)).save(path));
        const auto decoded = decodeImage(QUrl::fromLocalFile(path), 100);
        QVERIFY(decoded && decoded->bitmap);
        const QImage &b = *decoded->bitmap;
        QCOMPARE(b.size(), QSize(100, 30));
        QCOMPARE(int(b.format()), expectedFormat);
        QCOMPARE(b.pixelColor(10, 15), QColor(Qt::white));
        QCOMPARE(b.pixelColor(90, 15).rgba(), right.rgba() & (right.alpha() ? ~0u : 0u));
        // Column 49 covers source columns 147..149: nothing of the right side bleeds in.
        QCOMPARE(b.pixelColor(49, 15), QColor(Qt::white));
        const QImage whole = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(decodeImage(QUrl::fromLocalFile(path))
                     ->bitmap->convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 whole);
    }

    // Every filter type, in images with and without alpha, gives the exact pixels.
    void unfiltersEveryRowType_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("alpha");
        const std::pair<const char *, int> filters[] = {{"none", SPNG_FILTER_CHOICE_NONE},
                                                        {"sub", SPNG_FILTER_CHOICE_SUB},
                                                        {"up", SPNG_FILTER_CHOICE_UP},
                                                        {"average", SPNG_FILTER_CHOICE_AVG},
                                                        {"paeth", SPNG_FILTER_CHOICE_PAETH}};
        for (const auto &[name, filter] : filters) {
            QTest::addRow("%s rgb", name) << filter << false;
            QTest::addRow("%s rgba", name) << filter << true;
        }
    }
    void unfiltersEveryRowType()
    {
        QFETCH(int, filter);
        QFETCH(bool, alpha);
        QImage image(64, 48, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y,
                               qRgba((x * 37 + y * 11) & 255, (x * x + y * 7) & 255,
                                     (x ^ y) * 5 & 255, alpha ? (x * 3 + y * 5) & 255 : 255));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f.png"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            pngWithFilter(alpha ? image : image.convertToFormat(QImage::Format_RGB32), filter));
        file.close();
        const auto decoded = decodeImage(QUrl::fromLocalFile(path), 64);
        QVERIFY(decoded && decoded->bitmap);
        const QImage &b = *decoded->bitmap;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                const auto pre = [a = qAlpha(p)](int c) { return (c * a + 127) / 255; };
                QCOMPARE(b.pixel(x, y),
                         qRgba(pre(qRed(p)), pre(qGreen(p)), pre(qBlue(p)), qAlpha(p)));
            }
    }
};

QTEST_MAIN(TestPngDecoder)
#include "tst_pngdecoder.moc"
