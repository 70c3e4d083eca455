#include "support/TestServices.h"
#include "ui/ViewerWindow.h"

#include <QtTest>

using namespace orva;

class TestViewerWindow : public QObject {
    Q_OBJECT

private slots:
    void titleFollowsTheState()
    {
        test::TestServices t;
        ViewerWindow window(t.services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(window.windowTitle(), QStringLiteral("Orva"));
        window.state().setImageFiles({QUrl::fromLocalFile(QStringLiteral("/p/a.jpg")),
                                      QUrl::fromLocalFile(QStringLiteral("/p/b.jpg"))});
        window.state().setCurrentURL(QUrl::fromLocalFile(QStringLiteral("/p/b.jpg")));
        window.state().setCurrentIndex(1);
        QCOMPARE(window.windowTitle(), QStringLiteral("b.jpg [2/2]"));
    }
};

QTEST_MAIN(TestViewerWindow)
#include "tst_viewerwindow.moc"
