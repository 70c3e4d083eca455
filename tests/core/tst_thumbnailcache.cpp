// The shared thumbnail cache (one decode per file, bounded, stale results dropped) and the
// arithmetic of the strip and of the backgrounds.
#include "core/thumbnails/ThumbnailCache.h"
#include "core/view/ThumbnailStrip.h"
#include "support/RealFileServices.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QPainter>
#include <QtTest>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QImage filled(const QColor &colour, QSize size = {160, 120})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QUrl fileUrl(const QString &name) { return QUrl::fromLocalFile(u"/photos/"_s + name); }

// Collects what awaiters receive.
struct Received {
    QList<std::optional<QImage>> results;
    ThumbnailCache::Callback callback()
    {
        return [this](const std::optional<QImage> &image) { results << image; };
    }
};

} // namespace

class TestThumbnailCache : public QObject {
    Q_OBJECT

private slots:
    void awaitersShareOneDecodeAndFailuresAreRetried()
    {
        TestServices t;
        t.images.setGated(true);
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red, {400, 300}));
        t.images.failing.insert(u"bad.jpg"_s);
        QObject context;
        Received first, second, bad;
        t.thumbnails.thumbnailForURL(fileUrl(u"a.jpg"_s), &context, first.callback());
        t.thumbnails.thumbnailForURL(fileUrl(u"a.jpg"_s), &context, second.callback());
        t.thumbnails.thumbnailForURL(fileUrl(u"bad.jpg"_s), &context, bad.callback());
        t.images.release(u"a.jpg"_s);
        t.images.release(u"bad.jpg"_s);
        QTRY_COMPARE(second.results.size() + bad.results.size(), 2);
        QCOMPARE(first.results.size(), 1);
        QCOMPARE(t.images.thumbnailCalls.load(), 2); // one for a.jpg, one for bad.jpg
        // Both get the same image, bounded to 120 pixels on its longer side.
        QCOMPARE(first.results[0]->size(), QSize(120, 90));
        QCOMPARE(first.results[0]->cacheKey(), second.results[0]->cacheKey());
        QVERIFY(!bad.results[0]);

        // Kept: served without a decode. A failure is not: asking again decodes again.
        t.thumbnails.thumbnailForURL(fileUrl(u"a.jpg"_s), &context, first.callback());
        t.thumbnails.thumbnailForURL(fileUrl(u"bad.jpg"_s), &context, bad.callback());
        QTRY_COMPARE(first.results.size() + bad.results.size(), 4);
        QCOMPARE(t.images.thumbnailCalls.load(), 3);
    }

    void keepsAtMostFiveHundredLeastRecentlyUsedFirst()
    {
        TestServices t;
        QObject context;
        Received r;
        for (int i = 0; i < thumbnailCacheLimit; ++i)
            t.thumbnails.thumbnailForURL(fileUrl(u"%1.jpg"_s.arg(i)), &context, r.callback());
        QTRY_COMPARE(r.results.size(), thumbnailCacheLimit);
        // The first one is used again, so the second is the oldest when the 501st arrives.
        QVERIFY(t.thumbnails.cached(fileUrl(u"0.jpg"_s)));
        t.thumbnails.thumbnailForURL(fileUrl(u"new.jpg"_s), &context, r.callback());
        QTRY_COMPARE(r.results.size(), thumbnailCacheLimit + 1);
        QCOMPARE(t.thumbnails.count(), thumbnailCacheLimit);
        QVERIFY(t.thumbnails.cached(fileUrl(u"0.jpg"_s)));
        QVERIFY(!t.thumbnails.cached(fileUrl(u"1.jpg"_s)));
    }

    void aResultMadeBeforeAnInvalidationIsNotKept()
    {
        TestServices t;
        t.images.setGated(true);
        const QUrl url = fileUrl(u"a.jpg"_s);
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red));
        QObject context;
        Received r;
        t.thumbnails.thumbnailForURL(url, &context, r.callback());
        QTRY_COMPARE(t.images.thumbnailCalls.load(), 1); // decoding the old contents
        // The file is rewritten (a rotation saved) while its old thumbnail is being made.
        t.thumbnails.invalidateThumbnail(url);
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::blue));
        t.images.release(u"a.jpg"_s);
        QTRY_COMPARE(r.results.size(), 1);
        // The awaiter gets the new contents, and only they are kept.
        QCOMPARE(r.results[0]->pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(t.thumbnails.cached(url)->pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(t.images.thumbnailCalls.load(), 2);
    }

    void aRenamedFileLosesItsThumbnail()
    {
        RealFileServices t;
        TestFolder f({u"a.jpg"_s, u"b.jpg"_s});
        AppState state(t.real);
        openAndList(state, f, u"a.jpg"_s, 2);
        QObject context;
        Received r;
        const QUrl a = f.url(u"a.jpg"_s);
        t.thumbnails.thumbnailForURL(a, &context, r.callback());
        QTRY_VERIFY(t.thumbnails.cached(a));

        state.rename(u"z.jpg"_s);
        QVERIFY(!t.thumbnails.cached(a));
    }

    void stripRequestsOnlyWhatIsNearTheView()
    {
        // A folder of 10,000: the cells in view and a margin, the current one first.
        const double offset = strip::centredOffset(5000, 10000, 480);
        const QList<int> order = strip::requestOrder(offset, 480, 10000, 5000);
        QCOMPARE(order.size(), 11 + 2 * strip::requestMargin);
        QCOMPARE(order.first(), 5000);
        for (int i = 1; i < order.size(); ++i)
            QVERIFY(std::abs(order[i] - 5000) >= std::abs(order[i - 1] - 5000));
    }

    void checkerboardGrid()
    {
        for (const auto &[area, rows, columns] :
             {std::tuple{QSizeF(105, 95), 9, 10}, std::tuple{QSizeF(100, 100), 10, 10},
              std::tuple{QSizeF(9.9, 50), 5, 0}, std::tuple{QSizeF(0, 0), 0, 0}}) {
            const background::CheckerGrid grid = background::checkerGrid(area, 10);
            QCOMPARE(grid.rows, rows);
            QCOMPARE(grid.columns, columns);
        }
    }

    void blurredBackgroundIsOpaqueToItsEdges()
    {
        QImage clear(40, 30, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        const int level = qRound(255 * background::blurOpacity);
        // Black without a thumbnail or from a transparent one (seen over black, never blurred
        // into see-through edges); a plain thumbnail stays plain to its corners, at 0.55.
        for (const auto &[thumbnail, red] :
             {std::pair{QImage(), 0}, std::pair{clear, 0}, std::pair{filled(Qt::red), level}}) {
            const QImage b = background::blurredBackground(thumbnail, QSize(800, 600));
            QVERIFY(b.width() < 200 && !b.hasAlphaChannel()); // a fraction of the window
            for (QPoint p : {QPoint(0, 0), QPoint(b.width() - 1, b.height() - 1)}) {
                QVERIFY(std::abs(b.pixelColor(p).red() - red) <= 2);
                QCOMPARE(b.pixelColor(p).green(), 0);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"
