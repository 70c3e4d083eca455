#include "core/state/AppState.h"
#include "support/TestServices.h"
#include "ui/ZoomableImageView.h"

#include <QColorSpace>
#include <QSet>
#include <QtTest>

using namespace orva;

namespace {

// One ramp from 0 to `top` across the width, as 16-bit or float pixels with `space`.
QImage ramp(QImage::Format format, double top, const QColorSpace &space)
{
    QImage f(800, 8, QImage::Format_RGBX32FPx4);
    for (int y = 0; y < f.height(); ++y) {
        auto *px = reinterpret_cast<float *>(f.scanLine(y));
        for (int x = 0; x < f.width(); ++x)
            for (int c = 0; c < 4; ++c)
                px[4 * x + c] = c == 3 ? 1.0f : float(top * x / (f.width() - 1));
    }
    QImage out = f.convertToFormat(format);
    out.setColorSpace(space);
    return out;
}

} // namespace

class TestViewColours : public QObject {
    Q_OBJECT

private slots:
    // What the view draws once its levels are built: deep pixels converted before they are
    // cut to 8 bits (no bands in linear shadows) and highlights rolled off, not clipped.
    void deepImagesDrawSmoothly_data()
    {
        QTest::addColumn<QImage>("bitmap");
        QTest::addColumn<int>("minimumLevels");
        QTest::addColumn<bool>("brightEndDiffers"); // a quarter of the way is not yet white
        const QColorSpace linear(QColorSpace::Primaries::SRgb,
                                 QColorSpace::TransferFunction::Linear);
        QTest::newRow("16-bit linear shadows")
            << ramp(QImage::Format_RGBX64, 0.05, linear) << 55 << false;
        QTest::newRow("float above 1.0")
            << ramp(QImage::Format_RGBA16FPx4, 8.0, linear) << 80 << true;
    }
    void deepImagesDrawSmoothly()
    {
        QFETCH(QImage, bitmap);
        QFETCH(int, minimumLevels);
        QFETCH(bool, brightEndDiffers);
        test::TestServices t;
        AppState s{t.services};
        ZoomableImageView view{s};
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto image = std::make_shared<DisplayImage>();
        image->pointSize = QSizeF(bitmap.size());
        image->frames.push_back({bitmap, 0});
        s.setCurrentImage(DecodedImage{image, bitmap, image, 1.0});
        QTRY_VERIFY(!view.isAwaitingFirstLevel() && !view.isPreparing());
        QCOMPARE(view.magnification(), 1.0);

        QImage shot(view.viewport()->size(), QImage::Format_RGB32);
        view.viewport()->render(&shot);
        const int y = shot.height() / 2;
        QList<int> row;
        for (int x = 0; x < shot.width(); ++x)
            row << qGreen(shot.pixel(x, y));
        QVERIFY(std::is_sorted(row.begin(), row.end()));
        const auto levels = QSet<int>(row.begin(), row.end()).size();
        QVERIFY2(levels >= minimumLevels, QByteArray::number(levels));
        if (brightEndDiffers)
            QVERIFY(row[row.size() / 4] < row.last()); // 2.0 of 8.0
        t.tasks.waitForDone();
    }
};

QTEST_MAIN(TestViewColours)
#include "tst_viewcolours.moc"
