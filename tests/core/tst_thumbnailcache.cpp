// The shared thumbnail cache (one decode per file, bounded, stale results dropped, the disk
// tier consulted first) and the arithmetic of the strip and of the backgrounds.
#include "core/services/ThumbnailStore.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "core/view/ThumbnailStrip.h"
#include "support/RealFileServices.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QPainter>
#include <QtTest>

using namespace orva;
using namespace orva::test;

namespace {

QImage filled(const QColor &colour, QSize size = {160, 120})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QUrl fileUrl(const QString &name) { return QUrl::fromLocalFile(QStringLiteral("/photos/") + name); }

// Collects what awaiters receive.
struct Received {
    QList<std::optional<QImage>> results;
    ThumbnailCache::Callback callback()
    {
        return [this](const std::optional<QImage> &image) { results << image; };
    }
};

// A disk tier kept in memory, recording what it is asked to do.
class MemoryStore final : public ThumbnailStore {
public:
    int pixelSize() const override { return 128; }
    std::optional<QImage> load(const QUrl &file) const override
    {
        QMutexLocker lock(&mutex);
        return entries.contains(file) ? std::optional(entries.value(file)) : std::nullopt;
    }
    void save(const QUrl &file, const QImage &thumbnail, const QDateTime &) const override
    {
        QMutexLocker lock(&mutex);
        entries.insert(file, thumbnail);
    }
    void saveFailure(const QUrl &file, const QDateTime &) const override
    {
        QMutexLocker lock(&mutex);
        failures << file;
    }
    void remove(const QUrl &file) const override
    {
        QMutexLocker lock(&mutex);
        entries.remove(file);
    }
    mutable QMutex mutex;
    mutable QHash<QUrl, QImage> entries;
    mutable QList<QUrl> failures;
};

} // namespace

class TestThumbnailCache : public QObject {
    Q_OBJECT

private slots:
    void awaitersShareOneDecodeAndFailuresAreRetried()
    {
        TestServices t;
        t.images.setGated(true);
        t.images.thumbnails.insert(QStringLiteral("a.jpg"), filled(Qt::red, {400, 300}));
        t.images.failing.insert(QStringLiteral("bad.jpg"));
        QObject context;
        Received first, second, bad;
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("a.jpg")), &context, first.callback());
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("a.jpg")), &context, second.callback());
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("bad.jpg")), &context, bad.callback());
        QVERIFY(t.thumbnails.isInFlight(fileUrl(QStringLiteral("a.jpg"))));
        t.images.release(QStringLiteral("a.jpg"));
        t.images.release(QStringLiteral("bad.jpg"));
        QTRY_COMPARE(second.results.size(), 1);
        QTRY_COMPARE(bad.results.size(), 1);
        QCOMPARE(first.results.size(), 1);
        QCOMPARE(t.images.thumbnailCalls.load(), 2); // one for a.jpg, one for bad.jpg
        // Both get the same image, bounded to 120 pixels on its longer side.
        QCOMPARE(first.results[0]->size(), QSize(120, 90));
        QCOMPARE(first.results[0]->cacheKey(), second.results[0]->cacheKey());
        QVERIFY(!t.thumbnails.isInFlight(fileUrl(QStringLiteral("a.jpg"))));
        QVERIFY(!bad.results[0]);

        // Kept: served without a decode, and never synchronously.
        Received again;
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("a.jpg")), &context, again.callback());
        QVERIFY(again.results.isEmpty());
        QTRY_COMPARE(again.results.size(), 1);
        QCOMPARE(t.images.thumbnailCalls.load(), 2);

        // A failure is not remembered: asking again decodes again.
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("bad.jpg")), &context, bad.callback());
        QTRY_COMPARE(bad.results.size(), 2);
        QCOMPARE(t.images.thumbnailCalls.load(), 3);

        // An awaiter destroyed before the result is never called.
        auto gone = std::make_unique<QObject>();
        bool called = false;
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("c.jpg")), gone.get(),
                                     [&](const std::optional<QImage> &) { called = true; });
        gone.reset();
        t.images.release(QStringLiteral("c.jpg"));
        QTRY_VERIFY(t.thumbnails.cached(fileUrl(QStringLiteral("c.jpg"))));
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    void keepsAtMostFiveHundredLeastRecentlyUsedFirst()
    {
        TestServices t;
        QObject context;
        Received r;
        for (int i = 0; i < thumbnailCacheLimit; ++i)
            t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("%1.jpg").arg(i)), &context,
                                         r.callback());
        QTRY_COMPARE(r.results.size(), thumbnailCacheLimit);
        QCOMPARE(t.thumbnails.count(), thumbnailCacheLimit);
        // The first one is used again, so the second is the oldest when the 501st arrives.
        QVERIFY(t.thumbnails.cached(fileUrl(QStringLiteral("0.jpg"))));
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("new.jpg")), &context, r.callback());
        QTRY_COMPARE(r.results.size(), thumbnailCacheLimit + 1);
        QCOMPARE(t.thumbnails.count(), thumbnailCacheLimit);
        QVERIFY(t.thumbnails.cached(fileUrl(QStringLiteral("0.jpg"))));
        QVERIFY(!t.thumbnails.cached(fileUrl(QStringLiteral("1.jpg"))));
        // Asked for again, it is made again.
        const int calls = t.images.thumbnailCalls;
        t.thumbnails.thumbnailForURL(fileUrl(QStringLiteral("1.jpg")), &context, r.callback());
        QTRY_COMPARE(r.results.size(), thumbnailCacheLimit + 2);
        QCOMPARE(t.images.thumbnailCalls.load(), calls + 1);
    }

    void aResultMadeBeforeAnInvalidationIsNotKept()
    {
        TestServices t;
        t.images.setGated(true);
        const QUrl url = fileUrl(QStringLiteral("a.jpg"));
        t.images.thumbnails.insert(QStringLiteral("a.jpg"), filled(Qt::red));
        QObject context;
        Received r;
        t.thumbnails.thumbnailForURL(url, &context, r.callback());
        QTRY_COMPARE(t.images.thumbnailCalls.load(), 1); // decoding the old contents
        // The file is rewritten (a rotation saved) while its old thumbnail is being made.
        t.thumbnails.invalidateThumbnail(url);
        t.images.thumbnails.insert(QStringLiteral("a.jpg"), filled(Qt::blue));
        t.images.release(QStringLiteral("a.jpg"));
        QTRY_COMPARE(r.results.size(), 1);
        // The awaiter gets the new contents, and only they are kept.
        QCOMPARE(r.results[0]->pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(t.thumbnails.cached(url)->pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(t.images.thumbnailCalls.load(), 2);

        // A kept thumbnail goes on invalidation.
        t.thumbnails.invalidateThumbnail(url);
        QVERIFY(!t.thumbnails.cached(url));
    }

    void renameAndReplacementMakeAFreshThumbnail()
    {
        RealFileServices t;
        TestFolder f({QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
        AppState state(t.real);
        openAndList(state, f, QStringLiteral("a.jpg"), 2);
        QTRY_VERIFY(state.isCurrentFileLoaded());
        QObject context;
        Received r;
        const QUrl a = f.url(QStringLiteral("a.jpg"));
        t.thumbnails.thumbnailForURL(a, &context, r.callback());
        QTRY_VERIFY(t.thumbnails.cached(a));

        // The shown file is rewritten in place by another program; the rescan notices.
        QFile file(a.toLocalFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("other, longer contents");
        file.close();
        state.rescanCurrentFolder();
        QTRY_VERIFY(!t.thumbnails.cached(a));

        // Renamed: the old name's thumbnail goes, the new name gets its own.
        t.thumbnails.thumbnailForURL(a, &context, r.callback());
        QTRY_VERIFY(t.thumbnails.cached(a));
        state.rename(QStringLiteral("z.jpg"));
        QVERIFY(!t.thumbnails.cached(a));
        QVERIFY(!t.thumbnails.cached(f.url(QStringLiteral("z.jpg"))));
    }

    void theDiskTierServesFirstAndLearnsWhatIsMade()
    {
        FakeImageService images;
        MemoryStore store;
        store.entries.insert(fileUrl(QStringLiteral("known.jpg")), filled(Qt::green, {128, 96}));
        images.failing.insert(QStringLiteral("bad.jpg"));

        const std::optional<QImage> known =
            makeCachedThumbnail(images, &store, fileUrl(QStringLiteral("known.jpg")));
        QCOMPARE(images.thumbnailCalls.load(), 0); // no decode at all
        QCOMPARE(known->size(), QSize(120, 90));

        const std::optional<QImage> made =
            makeCachedThumbnail(images, &store, fileUrl(QStringLiteral("new.jpg")));
        QCOMPARE(images.thumbnailCalls.load(), 1);
        QCOMPARE(made->size(), QSize(120, 90));
        // Written at the store's own size for other programs.
        QCOMPARE(store.entries.value(fileUrl(QStringLiteral("new.jpg"))).size(), QSize(128, 96));

        QVERIFY(!makeCachedThumbnail(images, &store, fileUrl(QStringLiteral("bad.jpg"))));
        QCOMPARE(store.failures, QList<QUrl>{fileUrl(QStringLiteral("bad.jpg"))});
    }

    void stripGeometry()
    {
        // 8 points of padding, 44-point cells 4 points apart.
        QCOMPARE(strip::contentWidth(1), 60.0);
        QCOMPARE(strip::contentWidth(3), 8 + 3 * 44 + 2 * 4 + 8.0);
        struct Hit {
            double x;
            int cell;
        };
        for (const Hit &h : {Hit{0, -1}, Hit{7.9, -1}, Hit{8, 0}, Hit{51.9, 0}, Hit{52, -1},
                             Hit{56, 1}, Hit{8 + 2 * 48 + 43, 2}, Hit{8 + 3 * 48, -1}})
            QCOMPARE(strip::cellAt(h.x, 3), h.cell);
        // Centred where there is room, held within the content at both ends.
        QCOMPARE(strip::centredOffset(50, 100, 480), 8 + 50 * 48 + 22 - 240.0);
        QCOMPARE(strip::centredOffset(0, 100, 480), 0.0);
        QCOMPARE(strip::centredOffset(99, 100, 480), strip::contentWidth(100) - 480);
        QCOMPARE(strip::centredOffset(1, 3, 480), 0.0); // all of it fits

        // A folder of 10,000: only the cells in view and a margin are asked for, the
        // current one first, then outwards.
        const double offset = strip::centredOffset(5000, 10000, 480);
        const QList<int> order = strip::requestOrder(offset, 480, 10000, 5000);
        QVERIFY(order.size() < 30);
        QCOMPARE(order.first(), 5000);
        for (int i = 1; i < order.size(); ++i)
            QVERIFY(std::abs(order[i] - 5000) >= std::abs(order[i - 1] - 5000));
        QVERIFY(order.contains(5000 - 5 - strip::requestMargin));
        QVERIFY(strip::requestOrder(0, 480, 0, -1).isEmpty());
        QCOMPARE(strip::requestOrder(0, 480, 3, -1), (QList<int>{0, 1, 2}));
    }

    void checkerboardGrid_data()
    {
        QTest::addColumn<QSizeF>("area");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::newRow("105x95") << QSizeF(105, 95) << 9 << 10;
        QTest::newRow("exact") << QSizeF(100, 100) << 10 << 10;
        QTest::newRow("under one tile") << QSizeF(9.9, 50) << 5 << 0;
        QTest::newRow("empty") << QSizeF(0, 0) << 0 << 0;
    }
    void checkerboardGrid()
    {
        QFETCH(QSizeF, area);
        QFETCH(int, rows);
        QFETCH(int, columns);
        const background::CheckerGrid grid = background::checkerGrid(area, 10);
        QCOMPARE(grid.rows, rows);
        QCOMPARE(grid.columns, columns);
    }

    void blurredBackgroundIsOpaqueToItsEdges()
    {
        // No thumbnail: black.
        const QImage none = background::blurredBackground(QImage(), QSize(800, 600));
        for (QPoint p : {QPoint(0, 0), QPoint(none.width() / 2, none.height() / 2)})
            QCOMPARE(none.pixel(p), qRgb(0, 0, 0));

        // A plain thumbnail stays plain to the very corners (no dark fringe), at 0.55.
        const QImage red = background::blurredBackground(filled(Qt::red), QSize(800, 600));
        QVERIFY(red.width() < 200); // worked at a fraction of the window
        const int expected = qRound(255 * background::blurOpacity);
        for (QPoint p : {QPoint(0, 0), QPoint(red.width() - 1, red.height() - 1),
                         QPoint(red.width() / 2, red.height() / 2)}) {
            QVERIFY2(std::abs(red.pixelColor(p).red() - expected) <= 2,
                     qPrintable(QString::number(red.pixelColor(p).red())));
            QCOMPARE(red.pixelColor(p).green(), 0);
        }

        // A transparent thumbnail is seen over black, not blurred into see-through edges.
        QImage clear(40, 30, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        const QImage fromClear = background::blurredBackground(clear, QSize(300, 200));
        QCOMPARE(fromClear.pixel(0, 0), qRgb(0, 0, 0));
        QVERIFY(!fromClear.hasAlphaChannel());

        // Half red, half blue: blurred into each other across the middle.
        QImage halves(100, 100, QImage::Format_RGB32);
        halves.fill(Qt::blue);
        QPainter(&halves).fillRect(0, 0, 50, 100, Qt::red);
        const QImage mixed = background::blurredBackground(halves, QSize(400, 400));
        const QColor middle = mixed.pixelColor(mixed.width() / 2, mixed.height() / 2);
        QVERIFY(middle.red() > 20 && middle.blue() > 20);
    }
};

QTEST_GUILESS_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"
