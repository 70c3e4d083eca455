#include "core/state/AppState.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

QSizeF shownSize(const AppState &s)
{
    return s.currentImage() ? s.currentImage()->image->pointSize : QSizeF();
}

} // namespace

class TestRotate : public QObject {
    Q_OBJECT

private slots:
    void lateResultsOfAnEarlierFileOrTurnAreDropped()
    {
        TestServices t;
        TestFolder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 2);
        QTRY_VERIFY(s.currentImage());
        // Moving on before the failed save reports back: b is shown unturned.
        s.rotate(+1);
        s.navigate(+1);
        QTRY_COMPARE(sourceFileOf(s.currentImage()), QStringLiteral("b.jpg"));
        QTRY_COMPARE(t.images.savesMade().size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(s.rotationSteps(), 0);
        QCOMPARE(shownSize(s), QSizeF(4000, 3000));

        // Two quick turns: only the last rendering stands, whatever order results arrive in.
        s.rotate(+1);
        s.rotate(+1);
        QTRY_COMPARE(s.rotationSteps(), 2);
        QTRY_COMPARE(s.currentImage()->bitmap->size(), s.sourceImage()->bitmap->size());
        QCOMPARE(shownSize(s), QSizeF(4000, 3000));
    }

    void savedRotationOfAFileLeftBehindDropsItsStaleDecode()
    {
        TestServices t;
        t.images.savable.insert(QStringLiteral("a.jpg"));
        TestFolder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")});
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 3);
        QTRY_VERIFY(s.currentImage());
        s.rotate(+1);
        s.navigate(+1); // a stays among the prefetched neighbours
        QVERIFY(s.loadTaskURLs().contains(f.url(QStringLiteral("a.jpg"))));
        QTRY_VERIFY(!s.loadTaskURLs().contains(f.url(QStringLiteral("a.jpg"))));
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("b.jpg"))));
    }
};

QTEST_MAIN(TestRotate)
#include "tst_rotate.moc"
