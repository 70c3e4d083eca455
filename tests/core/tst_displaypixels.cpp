#include "core/view/DisplayPixels.h"

#include <QColorSpace>
#include <QSet>
#include <QtTest>

using namespace orva;

namespace {

const QColorSpace linearSrgb(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Linear);

// One row of linear-light shadow values from 0 to `top` in the given deep format.
QImage linearRamp(QImage::Format format, int width, double top)
{
    QImage ramp(width, 1, QImage::Format_RGBA32FPx4);
    auto *px = reinterpret_cast<float *>(ramp.scanLine(0));
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < 4; ++c)
            px[4 * x + c] = c == 3 ? 1.0f : float(top * x / (width - 1));
    QImage out = ramp.convertToFormat(format);
    out.setColorSpace(linearSrgb);
    return out;
}

QList<int> greens(const QImage &image)
{
    QList<int> values;
    for (int x = 0; x < image.width(); ++x)
        values << qGreen(image.pixel(x, 0));
    return values;
}

QImage floatRow(const QList<float> &values)
{
    QImage row(int(values.size()), 1, QImage::Format_RGBX32FPx4);
    auto *px = reinterpret_cast<float *>(row.scanLine(0));
    for (qsizetype i = 0; i < values.size(); ++i)
        for (int c = 0; c < 4; ++c)
            px[4 * i + c] = c == 3 ? 1.0f : values[i];
    return row;
}

} // namespace

class TestDisplayPixels : public QObject {
    Q_OBJECT

private slots:
    // Linear-light shadows up to 5 % take 13 steps at 8 bits, about 60 in sRGB: the
    // conversion must happen before the reduction or the ramp shows bands.
    void deepShadowsStaySmooth_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("16-bit") << QImage::Format_RGBX64;
        QTest::newRow("16-bit with alpha") << QImage::Format_RGBA64;
        QTest::newRow("16-bit premultiplied") << QImage::Format_RGBA64_Premultiplied;
        QTest::newRow("half float") << QImage::Format_RGBX16FPx4;
        QTest::newRow("float") << QImage::Format_RGBX32FPx4;
        QTest::newRow("float with alpha") << QImage::Format_RGBA32FPx4;
    }
    void deepShadowsStaySmooth()
    {
        QFETCH(QImage::Format, format);
        const QImage shown = toDisplayPixels(linearRamp(format, 1024, 0.05));
        QVERIFY(shown.format() == QImage::Format_RGB32 ||
                shown.format() == QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(shown.colorSpace(), QColorSpace(QColorSpace::SRgb));
        const QList<int> g = greens(shown);
        QVERIFY(std::is_sorted(g.begin(), g.end()));
        const auto levels = QSet<int>(g.begin(), g.end()).size();
        QVERIFY2(levels >= 55, QByteArray::number(levels));
        QVERIFY(std::abs(g.last() - 63) <= 1); // sRGB of 5 % linear
    }

    void eightBitInputIsConvertedAsBefore()
    {
        QImage p3(4, 1, QImage::Format_RGB888);
        p3.fill(QColor(200, 40, 40));
        p3.setColorSpace(
            QColorSpace(QColorSpace::Primaries::DciP3D65, QColorSpace::TransferFunction::SRgb));
        const QImage shown = toDisplayPixels(p3);
        QCOMPARE(shown.format(), QImage::Format_RGB32);
        QVERIFY(qRed(shown.pixel(0, 0)) > 200); // P3 red is more saturated than sRGB red
        QImage srgb(4, 1, QImage::Format_RGB32);
        srgb.fill(Qt::red);
        QCOMPARE(toDisplayPixels(srgb).cacheKey(), srgb.cacheKey()); // drawn as it is
    }

    // Float files and HDR decodes carry values above 1.0: they are rolled off in order
    // instead of all becoming white, and what lies below the knee is left alone.
    void highlightsAreRolledOffNotClipped()
    {
        const QList<float> values{0.0f, 0.2f, 0.5f, 0.74f, 1.0f, 2.0f, 4.0f, 8.0f};
        const QImage shown = toDisplayPixels(floatRow(values));
        const QList<int> g = greens(shown);
        for (qsizetype i = 1; i < g.size(); ++i)
            QVERIFY2(g[i] > g[i - 1], qPrintable(QStringLiteral("%1 -> %2").arg(i).arg(g[i])));
        QCOMPARE(g.last(), 255);
        QCOMPARE(g[2], 128); // 0.5 below the knee: unchanged
        // Without values above 1.0 nothing is compressed.
        QCOMPARE(greens(toDisplayPixels(floatRow({0.9f, 1.0f}))), QList<int>({230, 255}));
        // Hue is kept: a bright orange stays orange.
        QImage orange(1, 1, QImage::Format_RGBX32FPx4);
        auto *px = reinterpret_cast<float *>(orange.scanLine(0));
        px[0] = 6.0f, px[1] = 3.0f, px[2] = 0.0f, px[3] = 1.0f;
        const QRgb o = toDisplayPixels(orange).pixel(0, 0);
        QCOMPARE(qRed(o), 255);
        QVERIFY(qGreen(o) > 100 && qGreen(o) < 250);
        QCOMPARE(qBlue(o), 0);
    }

    void rollOffCurve_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<float>("peak");
        QTest::addColumn<float>("expected");
        QTest::newRow("below the knee") << 0.5f << 10.0f << 0.5f;
        QTest::newRow("at the peak") << 10.0f << 10.0f << 1.0f;
        QTest::newRow("no highlights") << 0.9f << 1.0f << 0.9f;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 4.0f
                                      << std::numeric_limits<float>::quiet_NaN();
    }
    void rollOffCurve()
    {
        QFETCH(float, value);
        QFETCH(float, peak);
        QFETCH(float, expected);
        const float got = rollOffHighlight(value, peak);
        if (std::isnan(expected))
            QVERIFY(std::isnan(got));
        else
            QVERIFY2(std::abs(got - expected) < 1e-5f, QByteArray::number(got));
        // Continuous at the knee, monotonic above it.
        QVERIFY(rollOffHighlight(0.7501f, 8.0f) - 0.7501f < 1e-4f);
        QVERIFY(rollOffHighlight(3.0f, 8.0f) < rollOffHighlight(3.1f, 8.0f));
    }

    void nonFiniteAndNegativeValuesBecomeBlack()
    {
        const QList<int> g =
            greens(toDisplayPixels(floatRow({-1.0f, std::numeric_limits<float>::infinity(),
                                             std::numeric_limits<float>::quiet_NaN(), 2.0f})));
        QCOMPARE(g[0], 0);
        QCOMPARE(g[1], 0);
        QCOMPARE(g[2], 0);
        QCOMPARE(g[3], 255);
    }
};

QTEST_GUILESS_MAIN(TestDisplayPixels)
#include "tst_displaypixels.moc"
