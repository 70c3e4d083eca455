#include "core/routing/WindowRouter.h"
#include "core/state/AppState.h"
#include "support/TestServices.h"

#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>
#include <vector>

using namespace orva;
using namespace orva::test;

namespace {

// Viewer windows as the router sees them: a state, a platform window, and the action
// that opens another window.
struct Windows {
    TestServices t;
    QTemporaryDir dir;
    WindowRouter router{t.settings};
    std::vector<std::unique_ptr<QWindow>> platform;
    std::vector<std::unique_ptr<AppState>> states;
    QList<QUrl> newWindowRequests;

    Windows()
    {
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            QFile(dir.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
    }
    QUrl url(const char *name) const
    {
        return QUrl::fromLocalFile(dir.filePath(QString::fromLatin1(name)));
    }
    void setMultiWindow(bool multi)
    {
        t.settings.values.insert(QStringLiteral("multiWindowMode"), multi);
    }

    AppState &show(std::optional<QUrl> file = std::nullopt)
    {
        platform.push_back(std::make_unique<QWindow>());
        platform.back()->show();
        states.push_back(std::make_unique<AppState>(t.services));
        AppState &s = *states.back();
        s.setWindow(platform.back().get());
        router.windowShown(s, file, [this](const QUrl &u) { newWindowRequests << u; });
        return s;
    }
};

} // namespace

class TestWindowRouter : public QObject {
    Q_OBJECT

private slots:
    // The first file goes to the shown (or first) window; the rest to new windows, or
    // nowhere in single-window mode. Files arriving before any window wait for it.
    void filesGoToTheFirstWindow_data()
    {
        QTest::addColumn<bool>("multi");
        QTest::addColumn<bool>("windowFirst");
        QTest::newRow("single window") << false << true;
        QTest::newRow("multi-window") << true << true;
        QTest::newRow("multi-window, files first") << true << false;
        QTest::newRow("single window, files first") << false << false;
    }
    void filesGoToTheFirstWindow()
    {
        QFETCH(bool, multi);
        QFETCH(bool, windowFirst);
        Windows w;
        if (!multi) // key never written: multi-window
            w.setMultiWindow(false);
        AppState *s = windowFirst ? &w.show() : nullptr;
        w.router.openFiles({w.url("a.jpg"), w.url("b.jpg"), w.url("c.jpg")});
        if (!s) {
            QCOMPARE(w.router.pendingURLs().size(), 3);
            s = &w.show();
        }
        QCOMPARE(s->currentURL(), std::optional(w.url("a.jpg")));
        const QList<QUrl> rest{w.url("b.jpg"), w.url("c.jpg")};
        QCOMPARE(w.newWindowRequests, multi ? rest : QList<QUrl>());
        QVERIFY(w.router.pendingURLs().isEmpty());
    }

    void singleWindowClosesEmptyWindows()
    {
        Windows w;
        w.setMultiWindow(false);
        AppState &shown = w.show();
        w.router.openFiles({w.url("a.jpg")});
        w.show(); // a second, empty window is closed as soon as it registers
        QVERIFY(w.platform[0]->isVisible());
        QVERIFY(!w.platform[1]->isVisible());
        QCOMPARE(shown.currentURL(), std::optional(w.url("a.jpg")));
    }

    // A window that registers while routing (its shown handler runs inside the action)
    // does not route the queue a second time: opening many files must not nest one window
    // creation inside the other, as deep as there are files.
    void routingIsNotReentered()
    {
        Windows w;
        AppState &first = w.show();
        QList<QUrl> opened;
        int depth = 0, deepest = 0;
        std::function<void(const QUrl &)> openWindow = [&](const QUrl &u) {
            deepest = std::max(deepest, ++depth);
            opened << u;
            w.states.push_back(std::make_unique<AppState>(w.t.services));
            w.router.windowShown(*w.states.back(), u, openWindow);
            --depth;
        };
        w.router.windowShown(first, std::nullopt, openWindow);
        w.router.openFiles({w.url("a.jpg"), w.url("b.jpg"), w.url("c.jpg")});
        QCOMPARE(opened, (QList<QUrl>{w.url("b.jpg"), w.url("c.jpg")}));
        QCOMPARE(w.router.states().size(), 3);
        QCOMPARE(deepest, 1);
    }

    // A later launch brings forward the window that took its file: the shared window (even
    // when an older one exists), an empty window that took it, or none when a new window
    // opens for it.
    void handOffTarget_data()
    {
        QTest::addColumn<bool>("multi");
        QTest::addColumn<int>("emptyWindow"); // index of a window left empty, -1: none
        QTest::addColumn<int>("target");      // expected window, -1: a new one
        QTest::newRow("single window, shown file in the newer window") << false << 0 << 1;
        QTest::newRow("multi-window, an empty window") << true << 1 << 1;
        QTest::newRow("multi-window, no empty window") << true << -1 << -1;
    }
    void handOffTarget()
    {
        QFETCH(bool, multi);
        QFETCH(int, emptyWindow);
        QFETCH(int, target);
        Windows w;
        for (int i = 0; i < 2; ++i)
            w.show(i == emptyWindow ? std::nullopt : std::optional(w.url("a.jpg")));
        w.setMultiWindow(multi);
        w.router.openFiles({w.url("c.jpg")});
        QCOMPARE(w.router.lastTarget(), target < 0 ? nullptr : w.states[size_t(target)].get());
        if (target >= 0)
            QCOMPARE(w.router.lastTarget()->currentURL(), std::optional(w.url("c.jpg")));
        else
            QCOMPARE(w.newWindowRequests, QList<QUrl>{w.url("c.jpg")});
    }

    void memoryPressureCancelsPrefetches()
    {
        Windows w;
        AppState &s = w.show();
        w.router.openFiles({w.url("b.jpg")});
        QTRY_COMPARE(s.imageFiles().size(), 3);
        QTRY_COMPARE(s.loadTaskURLs().size(), 3); // b and its neighbours a, c
        w.router.relieveMemoryPressure();
        QCOMPARE(s.loadTaskURLs(), QList<QUrl>{w.url("b.jpg")});
    }
};

QTEST_MAIN(TestWindowRouter)
#include "tst_windowrouter.moc"
