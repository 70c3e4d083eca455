// Histogram counts of images as they look, the curves drawn from them, and the loader
// that keeps a late result from replacing the current file's counts.
#include "core/histogram/Histogram.h"
#include "imageio/ImageIOService.h"
#include "support/ImageFixtures.h"
#include "support/TestServices.h"

#include <QColorSpace>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <numeric>

using namespace orva;
using namespace orva::test;

namespace {

// Counts with the given bins set, every other bin zero.
HistogramCounts bins(std::initializer_list<std::pair<int, quint32>> set)
{
    HistogramCounts c{};
    for (const auto &[bin, n] : set)
        c[size_t(bin)] = n;
    return c;
}

HistogramCounts every(quint32 n)
{
    HistogramCounts c;
    c.fill(n);
    return c;
}

QImage filled(QSize size, QImage::Format format, const QColor &colour)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

quint64 total(const HistogramCounts &c) { return std::accumulate(c.begin(), c.end(), quint64(0)); }

} // namespace

class TestHistogram : public QObject {
    Q_OBJECT

private slots:
    void binning()
    {
        struct Row {
            const char *name;
            QImage image;
            HistogramData expected;
        };
        std::vector<Row> rows;

        QImage ramp(256, 4, QImage::Format_Grayscale8);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 256; ++x)
                ramp.scanLine(y)[x] = uchar(x);
        rows.push_back({"grey ramp", ramp, {every(4), every(4), every(4)}});

        // 16-bit: every 8-bit level once per row, falling in green, constant in blue.
        QImage deep(256, 2, QImage::Format_RGBX64);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 256; ++x)
                deep.setPixelColor(
                    x, y,
                    QColor::fromRgba64(quint16(x * 257), quint16((255 - x) * 257), 128 * 257));
        rows.push_back({"16-bit gradient", deep, {every(2), every(2), bins({{128, 512}})}});

        // Transparency counts as drawn over black: a clear pixel is black whatever its
        // colour, half-covered full blue is 128.
        QImage alpha(4, 1, QImage::Format_ARGB32);
        alpha.setPixel(0, 0, qRgba(255, 255, 255, 0));
        alpha.setPixel(1, 0, qRgba(0, 255, 0, 255));
        alpha.setPixel(2, 0, qRgba(0, 0, 255, 128));
        alpha.setPixel(3, 0, qRgba(255, 255, 255, 255));
        rows.push_back({"transparent pixels",
                        alpha,
                        {bins({{0, 3}, {255, 1}}), bins({{0, 2}, {255, 2}}),
                         bins({{0, 2}, {128, 1}, {255, 1}})}});

        // Linear light is converted to sRGB before it is reduced to 8 bits: linear 0.2159 is
        // sRGB 128 (it would count at 55 unconverted).
        QImage linear =
            filled({5, 1}, QImage::Format_RGBX64, QColor::fromRgba64(14146, 14146, 14146));
        linear.setColorSpace(QColorSpace(QColorSpace::SRgbLinear));
        rows.push_back({"linear-light 16-bit grey",
                        linear,
                        {bins({{128, 5}}), bins({{128, 5}}), bins({{128, 5}})}});

        for (const Row &row : rows) {
            const std::optional<HistogramData> data = histogramOf(row.image);
            QVERIFY2(data, row.name);
            QVERIFY2(data->red == row.expected.red, row.name);
            QVERIFY2(data->green == row.expected.green, row.name);
            QVERIFY2(data->blue == row.expected.blue, row.name);
        }
        QVERIFY(!histogramOf(QImage()));
    }

    void countsComeFromABoundedThumbnail()
    {
        // A real 2048 x 1024 file is counted on 512 x 256 pixels.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("wide.png"));
        QVERIFY(filled({2048, 1024}, QImage::Format_RGB32, Qt::red).save(path));
        const ImageIOService images;
        const auto real = computeHistogram(images, QUrl::fromLocalFile(path));
        QVERIFY(real);
        QCOMPARE(real->red, bins({{255, 512 * 256}}));
        QVERIFY(!computeHistogram(
            images, QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing.png")))));

        // A camera's 160 x 120 Exif thumbnail is counted instead of decoding the photo; a
        // smaller one is not enough.
        const QString jpeg = dir.filePath(QStringLiteral("camera.jpg"));
        for (const int side : {160, 80}) {
            QVERIFY(writeImage(jpeg, filled({1024, 768}, QImage::Format_RGB32, Qt::red), "JPEG"));
            QVERIFY(setExifThumbnail(jpeg,
                                     filled({side, side * 3 / 4}, QImage::Format_RGB32, Qt::blue)));
            const auto counted = computeHistogram(images, QUrl::fromLocalFile(jpeg));
            QVERIFY(counted);
            const bool embedded = side == 160;
            QCOMPARE(total(counted->red), quint64(embedded ? 160 * 120 : 512 * 384));
            QCOMPARE(counted->blue[0] == 0, embedded);
        }
    }

    void loaderDropsResultsForAnotherFile()
    {
        TestServices t;
        t.images.thumbnails.insert(QStringLiteral("a.jpg"),
                                   filled({4, 4}, QImage::Format_RGB32, Qt::red));
        t.images.thumbnails.insert(QStringLiteral("b.jpg"),
                                   filled({4, 4}, QImage::Format_RGB32, Qt::blue));
        t.images.failing.insert(QStringLiteral("bad.jpg"));
        const auto url = [](const char *name) {
            return QUrl::fromLocalFile(QStringLiteral("/p/") + QLatin1String(name));
        };
        HistogramLoader loader(t.images, t.tasks);
        t.images.setGated(true);

        // a's count finishes and its delivery is queued when the panel moves on to b.
        loader.setUrl(url("a.jpg"));
        QCOMPARE(loader.status(), HistogramLoader::Status::computing);
        t.images.release(QStringLiteral("a.jpg"));
        t.tasks.waitForDone();
        loader.setUrl(url("b.jpg"));
        QCoreApplication::processEvents();
        QCOMPARE(loader.status(), HistogramLoader::Status::computing);
        QVERIFY(!loader.data());

        t.images.release(QStringLiteral("b.jpg"));
        QTRY_COMPARE(loader.status(), HistogramLoader::Status::ready);
        QCOMPARE(loader.data()->blue, bins({{255, 16}}));

        // A file without counts ends the wait instead of leaving it open.
        t.images.release(QStringLiteral("bad.jpg"));
        loader.setUrl(url("bad.jpg"));
        QTRY_COMPARE(loader.status(), HistogramLoader::Status::failed);
        QVERIFY(!loader.data());

        loader.setUrl(std::nullopt);
        QCOMPARE(loader.status(), HistogramLoader::Status::idle);
    }
};

QTEST_GUILESS_MAIN(TestHistogram)
#include "tst_histogram.moc"
