#include "core/state/AppState.h"
#include "support/TestServices.h"
#include "ui/ZoomableImageView.h"

#include <QtTest>

using namespace orva;

namespace {

DecodedImage plain(QColor colour, QImage::Format format)
{
    QImage bitmap(1600, 1200, format);
    bitmap.fill(colour);
    auto image = std::make_shared<DisplayImage>();
    image->pointSize = QSizeF(bitmap.size());
    image->frames.push_back({bitmap, 0});
    return DecodedImage{image, bitmap, image, 1.0};
}

} // namespace

// A step onto a neighbour decoded ahead: its screen-sized level is built before the key,
// and the very first frame after it already shows the change.
class TestStepFade : public QObject {
    Q_OBJECT

private slots:
    void firstFrameAfterTheKeyShowsTheNeighbour_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("drawable as is") << int(QImage::Format_RGB32);
        QTest::newRow("converted") << int(QImage::Format_RGB888);
    }
    void firstFrameAfterTheKeyShowsTheNeighbour()
    {
        QFETCH(int, format);
        const auto f = QImage::Format(format);
        test::TestServices t;
        AppState s{t.services};
        ZoomableImageView view{s};
        view.resize(800, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto render = [&view] {
            QImage out(view.viewport()->size(), QImage::Format_RGB32);
            view.viewport()->render(&out);
            return out;
        };
        const QUrl next = QUrl::fromLocalFile(QStringLiteral("/p/b.jpg"));
        const DecodedImage red = plain(Qt::red, f), blue = plain(Qt::blue, f);
        emit s.imageDecoded(QUrl::fromLocalFile(QStringLiteral("/p/a.jpg")), red);
        emit s.imageDecoded(next, blue);
        t.tasks.waitForDone();
        QCoreApplication::processEvents();
        s.setCurrentImage(red);
        QTRY_VERIFY(!view.isPreparing());
        QCOMPARE(render().pixelColor(400, 300), QColor(Qt::red));

        s.setCurrentImage(blue); // the key
        QVERIFY(!view.isAwaitingFirstLevel() && !view.isPreparing());
        const QColor first = render().pixelColor(400, 300);
        QVERIFY2(first.blue() > 0 && first.red() > first.blue(), qPrintable(first.name()));
        QTRY_COMPARE(render().pixelColor(400, 300), QColor(Qt::blue)); // after the fade
    }
};

QTEST_MAIN(TestStepFade)
#include "tst_stepfade.moc"
