// The viewer state on fake services and real folders: opening, stepping and prefetching,
// late results, timers, file actions, window routing, the thumbnail cache and the task
// runtime under it.
#include "core/histogram/Histogram.h"
#include "core/listing/FolderListing.h"
#include "core/metadata/MetadataRows.h"
#include "core/routing/WindowRouter.h"
#include "core/state/AppState.h"
#include "core/thumbnails/ThumbnailCache.h"
#include "core/view/Navigator.h"
#include "core/view/ViewerContent.h"
#include "imageio/ImageDecoding.h"
#include "support/ImageFixtures.h"
#include "support/RealFileServices.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QWindow>
#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QStringList letters(int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QChar(u'a' + i) + u".jpg"_s;
    return out;
}

QStringList names(const QList<QUrl> &urls, bool sorted = false)
{
    QStringList out;
    for (const QUrl &u : urls)
        out << u.fileName();
    if (sorted)
        out.sort();
    return out;
}

QUrl fakeUrl(const QString &name) { return QUrl::fromLocalFile(u"/p/"_s + name); }

QImage filled(const QColor &colour, QSize size = {160, 120})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Fake (or real file) services, a real folder of empty files and a viewer state on it.
template <class Services = TestServices> struct ViewerOn : Services {
    TestFolder f;
    AppState s{this->services};
    explicit ViewerOn(const QStringList &files) : f(files) {}
    QUrl url(const QString &name) const { return f.url(name); }
    std::optional<QUrl> shown(const QString &name) const { return f.url(name); }
    void open(const QString &name, int count) { openAndList(s, f, name, count); }
    void advance(double t) { this->scheduler.advance(t), QCoreApplication::processEvents(); }
    // Lets every started task finish and its result be delivered.
    void settle()
    {
        this->tasks.waitForDone();
        QCoreApplication::processEvents();
    }
};
using Viewer = ViewerOn<>;
using FileViewer = ViewerOn<RealFileServices>;

// Viewer windows as the router sees them: a state, a platform window, and the action
// that opens another window.
struct Windows : Viewer {
    WindowRouter router{settings};
    std::vector<std::unique_ptr<QWindow>> platform;
    std::vector<std::unique_ptr<AppState>> states;
    QList<QUrl> newWindowRequests;

    Windows() : Viewer(letters(3)) {}
    AppState &show(std::optional<QUrl> file = std::nullopt)
    {
        platform.push_back(std::make_unique<QWindow>());
        platform.back()->show();
        states.push_back(std::make_unique<AppState>(services));
        states.back()->setWindow(platform.back().get());
        router.windowShown(*states.back(), file, [this](const QUrl &u) { newWindowRequests << u; });
        return *states.back();
    }
};

// Collects what thumbnail awaiters receive.
struct Received {
    QList<std::optional<QImage>> results;
    ThumbnailCache::Callback callback()
    {
        return [this](const std::optional<QImage> &image) { results << image; };
    }
};

} // namespace

class TestViewerState : public QObject {
    Q_OBJECT

    QTemporaryDir dataHome_;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_.path())); }

    // A mode chosen asks for its zoom unless one is pending that it would repeat;
    // resetting follows the mode (auto-size sizes the window instead). Modes are stored.
    void displayModeAsksForItsZoom()
    {
        struct Row {
            std::optional<ZoomAction> pending;
            DisplayMode mode;
            ZoomAction expected;
            int emitted;
            std::optional<ZoomAction> reset;
        };
        for (const Row &row :
             {Row{{}, DisplayMode::fitToWindow, ZoomAction::fit, 1, ZoomAction::fit},
              Row{{}, DisplayMode::autoSizeWindow, ZoomAction::fit, 1, std::nullopt},
              Row{ZoomAction::fit, DisplayMode::autoSizeWindow, ZoomAction::fit, 0, {}},
              Row{ZoomAction::zoomIn, DisplayMode::actualSize, ZoomAction::actualSize, 1,
                  ZoomAction::actualSize}}) {
            TestServices t;
            AppState s(t.services);
            s.setZoomAction(row.pending);
            QSignalSpy spy(&s, &AppState::zoomActionChanged);
            s.applyDisplayMode(row.mode);
            QCOMPARE(spy.count(), row.emitted);
            QCOMPARE(s.zoomAction(), std::optional(row.expected));
            s.setOverlayMode(OverlayMode::histogram);
            s.setShowThumbnailBar(true);
            const AppState next(t.services); // a new window starts from the stored modes
            QVERIFY(next.displayMode() == row.mode &&
                    next.overlayMode() == OverlayMode::histogram && next.showThumbnailBar());
            s.setZoomAction(std::nullopt);
            s.resetZoomRequest();
            QCOMPARE(s.zoomAction(), row.reset);
        }
    }

    void aDecodeStartedAtLaunchIsTakenOverUnlessTheFileChanged()
    {
        for (const bool rewritten : {false, true}) {
            TestServices t;
            TestFolder f({u"a.jpg"_s, u"notes.txt"_s});
            QVERIFY(!AppState::startLoad(t.services, f.folder()));
            QVERIFY(!AppState::startLoad(t.services, f.url(u"notes.txt"_s)));
            const QUrl a = f.url(u"a.jpg"_s);
            std::optional<AppState::StartedLoad> started = AppState::startLoad(t.services, a);
            QVERIFY(started);
            t.tasks.waitForDone();
            QFile file(a.toLocalFile());
            QVERIFY(!rewritten || (file.open(QIODevice::Append) && file.write("x") == 1));
            file.close();
            AppState s(t.services);
            s.adoptLoad(*started);
            s.open(a);
            QTRY_COMPARE(sourceFileOf(s.currentImage()), u"a.jpg"_s);
            t.tasks.waitForDone();
            // The stale decode is dropped and the file decoded again.
            QCOMPARE(t.images.decodeCalls.load(), rewritten ? 2 : 1);
            QCOMPARE(started->task.isCancelled(), rewritten);
        }
    }

    // A file is shown and titled before its folder is listed. The failure reason follows
    // each failed file, and goes with the first one that decodes (here past the wrap).
    void decodeFailureMarksTheLoadFailed()
    {
        Viewer v(letters(3));
        v.images.failing += {u"b.jpg"_s, u"c.jpg"_s};
        v.images.reasons.insert(u"c.jpg"_s, DecodeFailure::damaged);
        v.s.open(v.url(u"b.jpg"_s));
        QCOMPARE(std::pair(v.s.currentURL(), v.s.windowTitle()),
                 std::pair(v.shown(u"b.jpg"_s), u"b.jpg"_s));
        QCOMPARE(v.s.zoomAction(), std::optional(ZoomAction::fit));
        QTRY_COMPARE(v.s.windowTitle(), u"b.jpg [2/3]"_s);
        QTRY_COMPARE(v.s.loadFailure(),
                     std::optional(LoadFailure{v.url(u"b.jpg"_s), DecodeFailure::unreadable}));
        QVERIFY(!v.s.currentImage() && v.s.loadFailed() && v.s.directoryWatcher());
        v.s.navigate(+1);
        QTRY_COMPARE(v.s.loadFailure(),
                     std::optional(LoadFailure{v.url(u"c.jpg"_s), DecodeFailure::damaged}));
        v.s.navigate(+1);
        QTRY_COMPARE(sourceFileOf(v.s.currentImage()), u"a.jpg"_s);
        QVERIFY(!v.s.loadFailed() && !v.s.loadFailure());
    }

    // A photo still being copied fails; once it is complete the next listing shows it, even
    // after a step back onto it found its failed decode finished but not yet delivered.
    void aFailedFileIsShownOnceItDecodes()
    {
        Viewer v(letters(3));
        v.images.failing += u"a.jpg"_s;
        v.open(u"a.jpg"_s, 3);
        v.settle();
        v.s.navigate(+1);
        v.scheduler.advance(1.0 / 60); // the step's prefetches: a, the one behind, fails again
        v.tasks.waitForDone();
        v.images.failing.clear(); // the copy is complete
        v.s.navigate(-1);
        v.settle();
        v.advance(1.0 / 60);
        v.settle();
        QVERIFY(v.s.loadFailed());
        v.s.rescanCurrentFolder();
        QTRY_COMPARE(sourceFileOf(v.s.currentImage()), u"a.jpg"_s);
        QVERIFY(!v.s.loadFailed());
    }

    // A folder given to open is taken at once (a batch of opened files must not land in the
    // same window); its first image in the sort order follows, or the failure notice.
    void openingAFolder()
    {
        for (const auto &[files, descending, first] :
             {std::tuple{QStringList{u"b10.jpg"_s, u"b9.jpg"_s, u"notes.txt"_s}, false,
                         u"b9.jpg"_s},
              std::tuple{QStringList{u"a.jpg"_s, u"c.png"_s, u"b.gif"_s}, true, u"c.png"_s}}) {
            Viewer v(files);
            v.s.settings().setSortDescending(descending);
            v.s.open(v.f.folder());
            QCOMPARE(v.s.currentURL(), std::optional(standardizedFileUrl(v.f.folder())));
            QTRY_COMPARE(v.s.currentURL(), v.shown(first));
            QCOMPARE(v.s.currentIndex(), 0);
            QCOMPARE(v.s.imageFiles().size(), files.size() - files.filter(u".txt"_s).size());
            QTRY_COMPARE(sourceFileOf(v.s.currentImage()), first);
            QTRY_VERIFY(v.s.directoryWatcher());
            QCOMPARE(v.s.directoryWatcher()->directory(), standardizedFileUrl(v.f.folder()));
        }
        // Looking again finds an image put there meanwhile; nothing else is listed.
        Viewer v({u"notes.txt"_s});
        const QUrl folder = standardizedFileUrl(v.f.folder());
        v.s.open(folder);
        QTRY_VERIFY(v.s.loadFailed());
        QCOMPARE(v.s.loadFailure(), std::optional(LoadFailure{folder, DecodeFailure::noImages}));
        QCOMPARE(v.s.windowTitle(), folder.fileName());
        QFile(v.f.dir.filePath(u"new.jpg"_s)).open(QIODevice::WriteOnly);
        v.s.rescanCurrentFolder();
        QTRY_COMPARE(v.s.currentURL(), v.shown(u"new.jpg"_s));
        QTRY_VERIFY(!v.s.loadFailed());
    }

    // Previews kept after a step: the current file and, in the direction of travel, the next
    // two and the one behind. Each is announced once decoded, so views can prepare it.
    void keepSets()
    {
        for (const auto &[count, step, kept] :
             {std::tuple{1, 1, letters(1)}, std::tuple{2, 1, letters(2)},
              std::tuple{3, 1, letters(3)}, std::tuple{5, 1, letters(4)},
              std::tuple{5, -1, QStringList{u"a.jpg"_s, u"c.jpg"_s, u"d.jpg"_s, u"e.jpg"_s}}}) {
            Viewer v(letters(count));
            QStringList announced;
            connect(&v.s, &AppState::imageDecoded, this,
                    [&announced](const QUrl &url, const DecodedImage &image) {
                        QCOMPARE(sourceFileOf(image), url.fileName());
                        announced << url.fileName();
                    });
            v.open(u"a.jpg"_s, count);
            v.tasks.waitForDone();
            const QList<QUrl> before = v.s.loadTaskURLs();
            // A step onto a decoded neighbour is drawn first; the new neighbour's decode
            // follows a frame later.
            v.s.navigate(step);
            QCOMPARE(names(v.s.loadTaskURLs(), true), names(before, true));
            v.scheduler.advance(1.0 / 60);
            QCOMPARE(names(v.s.loadTaskURLs(), true), kept);
            QTRY_VERIFY(std::all_of(kept.begin(), kept.end(),
                                    [&](const QString &n) { return announced.contains(n); }));
            QCOMPARE(announced.size(), QSet<QString>(announced.begin(), announced.end()).size());
        }
    }

    // Only the last file's preview may land, however late the earlier ones finish.
    void rapidNavigationDropsLatePreviews()
    {
        Viewer v(letters(5));
        v.open(u"a.jpg"_s, 5);
        v.images.setGated(true);
        QStringList applied;
        connect(&v.s, &AppState::currentImageChanged, &v.s,
                [&] { applied << sourceFileOf(v.s.currentImage()); });
        for (int i = 0; i < 3; ++i)
            v.s.navigate(+1);
        QCOMPARE(v.s.currentURL(), v.shown(u"d.jpg"_s));
        v.images.release(u"d.jpg"_s, u"e.jpg"_s, u"c.jpg"_s, u"b.jpg"_s, u"a.jpg"_s);
        QTRY_COMPARE(sourceFileOf(v.s.currentImage()), u"d.jpg"_s);
        v.settle();
        QCOMPARE(sourceFileOf(v.s.currentImage()), u"d.jpg"_s);
        QVERIFY(!applied.contains(u"b.jpg"_s) && !applied.contains(u"c.jpg"_s));
    }

    // The same for metadata rows: those of a file stepped away from never replace the rows
    // of the shown one.
    void lateMetadataOfAnEarlierFileIsDropped()
    {
        Viewer v(letters(2));
        v.images.dateTimeOriginal.insert(u"a.jpg"_s, u"2001:01:01 10:00:00"_s);
        v.images.dateTimeOriginal.insert(u"b.jpg"_s, u"2002:02:02 10:00:00"_s);
        v.images.blockProperties(u"a.jpg"_s);
        v.open(u"a.jpg"_s, 2);
        v.s.navigate(+1);
        v.scheduler.advance(1.0 / 60); // read a frame after a step onto a decoded file
        const QList<MetadataEntry> rowsOfB = readMetadataEntries(v.url(u"b.jpg"_s), v.images);
        QTRY_COMPARE(v.s.metadata(), rowsOfB);
        v.images.release(u"a.jpg"_s);
        v.settle();
        QCOMPARE(v.s.metadata(), rowsOfB);
    }

    // A 4000x3000 photo: sharp enough on a 2560x1600 Retina screen at any zoom; on a
    // 1440x900 screen the full image follows zooming in (after 0.25 s) and is dropped
    // again on zooming out.
    void fullResolutionFollowsTheZoom()
    {
        Viewer retina({u"a.jpg"_s});
        retina.screens.list = {{QSizeF(2560, 1600), 2.0}};
        QCOMPARE(retina.s.maxScreenPixelSize(), 5120);
        retina.s.open(retina.url(u"a.jpg"_s));
        QTRY_COMPARE(retina.s.currentImage() ? retina.s.currentImage()->resolution : 0, 1.0);
        retina.s.setMagnification(8.0);
        retina.advance(0.3);
        QVERIFY(!retina.s.hasFullResolutionTask());
        Viewer v({u"a.jpg"_s});
        v.screens.list = {{QSizeF(1440, 900), 1.0}};
        QWindow window; // scale factor 1 under the offscreen platform
        v.s.setWindow(&window);
        QCOMPARE(v.s.maxScreenPixelSize(), 1440);
        v.s.open(v.url(u"a.jpg"_s));
        QTRY_VERIFY(v.s.currentImage());
        QCOMPARE(v.s.currentImage()->resolution, 0.36);
        v.s.setMagnification(0.2); // about fit
        v.advance(0.25);
        QVERIFY(!v.s.hasFullResolutionTask());
        v.s.setMagnification(1.0);
        v.advance(0.2);
        QVERIFY(!v.s.hasFullResolutionTask()); // still within the debounce
        v.scheduler.advance(0.05);
        QTRY_VERIFY(v.s.hasFullResolutionTask());
        QTRY_COMPARE(v.s.currentImage()->resolution, 1.0);
        v.s.setMagnification(0.2);
        v.scheduler.advance(0.25);
        QTRY_VERIFY(!v.s.hasFullResolutionTask());
        QTRY_COMPARE(v.s.currentImage()->resolution, 0.36);

        // A check still waiting for the preview of a file stepped away from starts nothing.
        Viewer w(letters(2));
        w.screens.list = v.screens.list;
        w.images.setGated(true);
        w.open(u"a.jpg"_s, 2);
        w.s.setMagnification(1.0);
        w.scheduler.advance(0.25);
        w.s.navigate(+1);
        w.images.release(u"a.jpg"_s, u"b.jpg"_s);
        w.settle();
        QVERIFY(!w.s.hasFullResolutionTask());
    }

    // Folder events come in bursts: one rescan 0.3 s after the last; focus comes and goes
    // in bursts too (menus, dialogs): one rescan once it settles.
    void burstsGiveOneRescan()
    {
        Viewer v(letters(3));
        v.open(u"b.jpg"_s, 3);
        v.tasks.waitForDone();
        int listings = v.images.listings.load();
        for (int i = 0; i < 100; ++i) {
            v.watchers.fire(v.f.folder());
            v.scheduler.advance(0.01);
        }
        QFile(v.f.dir.filePath(u"0.jpg"_s)).open(QIODevice::WriteOnly);
        v.scheduler.advance(0.28); // 0.29 s since the last event
        QCOMPARE(v.images.listings.load(), listings);
        v.scheduler.advance(0.01);
        QTRY_COMPARE(v.s.imageFiles().size(), 4);
        QCOMPARE(v.images.listings.load(), ++listings);
        QCOMPARE(v.s.currentIndex(), 2); // follows the shown file
        QCOMPARE(v.s.currentURL(), v.shown(u"b.jpg"_s));
        v.settle();
        for (int i = 0; i < 5; ++i) {
            v.s.windowActivated();
            v.scheduler.advance(0.1);
        }
        v.scheduler.advance(0.2);
        v.tasks.waitForDone();
        QCOMPARE(v.images.listings.load(), listings + 1);
    }

    // An older listing finishing last (a slow date sort) must not bring back a file that a
    // newer listing no longer saw.
    void olderListingArrivingLateIsDropped()
    {
        Viewer v(letters(3));
        v.settings.values.insert(u"sortOrder"_s, u"dateTaken"_s);
        v.images.blockProperties(u"c.jpg"_s);
        v.s.open(v.url(u"a.jpg"_s));
        QTRY_VERIFY(v.images.blockedReads == 1); // the first listing has seen c and stalls
        QVERIFY(QFile::remove(v.f.dir.filePath(u"c.jpg"_s)));
        v.s.rescanCurrentFolder();
        QTRY_COMPARE(v.s.imageFiles().size(), 2);
        v.images.release(u"c.jpg"_s);
        v.settle();
        QCOMPARE(names(v.s.imageFiles(), true), letters(2));
    }

    // A file that decodes slowly shows the small image stored in it first, and its own
    // preview replaces it; the stored image never comes back over the real one.
    void quickPreviewOnlyUntilThePreviewArrives()
    {
        Viewer v({u"a.heic"_s, u"b.heic"_s});
        v.images.quickPreviews = {u"a.heic"_s, u"b.heic"_s};
        v.images.setGated(true);
        v.s.open(v.url(u"a.heic"_s));
        QTRY_COMPARE(sourceFileOf(v.s.currentImage()), u"a.heic quick"_s);
        QVERIFY(!v.s.isCurrentFileLoaded());
        v.images.release(u"a.heic"_s);
        QTRY_COMPARE(sourceFileOf(v.s.currentImage()), u"a.heic"_s);
        QTRY_COMPARE(v.s.imageFiles().size(), 2);
        // Already decoded ahead: no quick preview in between.
        v.images.release(u"b.heic"_s);
        v.settle();
        QStringList shown;
        connect(&v.s, &AppState::currentImageChanged, &v.s,
                [&] { shown << sourceFileOf(v.s.currentImage()); });
        v.s.navigate(+1);
        QTRY_COMPARE(sourceFileOf(v.s.currentImage()), u"b.heic"_s);
        v.settle();
        QCOMPARE(shown, QStringList{u"b.heic"_s});
    }

    // The thumbnail stored in a HEIF file stands for the whole image; other files have none.
    void heifThumbnailStandsForTheWholeImage()
    {
        QTemporaryDir dir;
        const QString heic = dir.filePath(u"t.heic"_s), jpeg = dir.filePath(u"j.jpg"_s);
        QVERIFY(writeHeif(heic, filled(Qt::darkGreen, {640, 480}), 8, false, 160));
        QVERIFY(filled(Qt::darkGreen).save(jpeg));
        const auto quick = decodeEmbeddedPreview(QUrl::fromLocalFile(heic));
        QVERIFY(quick && quick->bitmap && quick->bitmap->size() == QSize(160, 120));
        QCOMPARE(std::pair(quick->image->pointSize, quick->resolution),
                 std::pair(QSizeF(640, 480), 0.25));
        QVERIFY(!decodeEmbeddedPreview(QUrl::fromLocalFile(jpeg)));
    }

    // Late results of an earlier file or turn are dropped; a saved turn of a file left
    // behind drops its stale prefetched decode.
    void lateRotationResultsAreDropped()
    {
        Viewer v(letters(3));
        v.open(u"a.jpg"_s, 3);
        QTRY_VERIFY(v.s.currentImage());
        // Moving on before the failed save reports back: b is shown unturned.
        v.s.rotate(+1);
        v.s.navigate(+1);
        QTRY_COMPARE(sourceFileOf(v.s.currentImage()), u"b.jpg"_s);
        QTRY_COMPARE(v.images.saveCalls.load(), 1);
        v.settle(); // the failed save's late result is delivered
        QCOMPARE(v.s.rotationSteps(), 0);
        QCOMPARE(v.s.currentImage()->image->pointSize, QSizeF(4000, 3000));
        // Two quick turns: only the last rendering stands, even when the first ends last.
        v.images.setGated(true);
        v.s.rotate(+1);
        v.s.rotate(+1);
        QTRY_COMPARE(v.s.rotationSteps(), 2);
        v.images.release(u"turn 2"_s);
        // Turn 2 is on screen (a bitmap of its own) before turn 1 ends.
        QTRY_VERIFY(v.s.currentImage()->bitmap->cacheKey() !=
                    v.s.sourceImage()->bitmap->cacheKey());
        v.images.release(u"turn 1"_s);
        v.settle();
        QCOMPARE(v.s.currentImage()->bitmap->size(), v.s.sourceImage()->bitmap->size());
        v.images.setGated(false);

        v.images.savable.insert(u"b.jpg"_s);
        v.s.rotate(+1);
        v.s.navigate(+1); // b stays among the prefetched neighbours
        QVERIFY(v.s.loadTaskURLs().contains(v.url(u"b.jpg"_s)));
        QTRY_VERIFY(!v.s.loadTaskURLs().contains(v.url(u"b.jpg"_s)));
        QCOMPARE(v.s.currentURL(), v.shown(u"c.jpg"_s));
    }

    // The slideshow steps at the stored interval with wrap-around, hiding the pointer
    // first; manual steps do not restart its timing. It ends when one file is left.
    void slideshowSteps()
    {
        Viewer v(letters(3));
        v.settings.values.insert(u"slideshowInterval"_s, 10.0);
        v.open(u"c.jpg"_s, 3);
        v.s.startSlideshow();
        v.scheduler.advance(9.99);
        QCOMPARE(v.s.currentIndex(), 2);
        QList<int> shown;
        for (int i = 0; i < 4; ++i) {
            v.scheduler.advance(i == 0 ? 0.01 : 10);
            shown << v.s.currentIndex();
        }
        QCOMPARE(shown, (QList<int>{0, 1, 2, 0}));
        QCOMPARE(v.pointer.hides, 4);
        v.scheduler.advance(5);
        v.s.navigate(+1);
        v.scheduler.advance(5);
        QCOMPARE(v.s.currentIndex(), 2);
        v.s.stopSlideshow();
        v.scheduler.advance(30);
        QCOMPARE(v.s.currentIndex(), 2);

        Viewer shrinking(letters(3));
        shrinking.open(u"a.jpg"_s, 3);
        shrinking.s.startSlideshow();
        shrinking.s.removeFromList(shrinking.url(u"a.jpg"_s));
        shrinking.s.removeFromList(shrinking.url(u"b.jpg"_s));
        QVERIFY(shrinking.s.isSlideshowRunning());
        shrinking.scheduler.advance(5);
        QVERIFY(!shrinking.s.isSlideshowRunning());
        QCOMPARE(shrinking.pointer.hides, 0);
        QCOMPARE(shrinking.s.currentURL(), shrinking.shown(u"c.jpg"_s));
    }

    // Full screen is entered only from a normal window and left only when the slideshow
    // entered it and the user has not left it already.
    void slideshowFullScreenRules()
    {
        for (const auto &[startFull, userLeaves] :
             {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
            Viewer v(letters(3));
            QWindow window;
            window.show();
            if (startFull)
                window.showFullScreen();
            v.s.setWindow(&window);
            v.open(u"a.jpg"_s, 3);
            v.s.startSlideshow();
            QVERIFY(isFullScreen(&window));
            if (userLeaves)
                toggleFullScreen(&window);
            v.s.stopSlideshow();
            QCOMPARE(isFullScreen(&window), startFull);
            QVERIFY(!v.s.slideshowEnteredFullScreen());
        }
    }

    // Digits 1-7 toggle a colour tag, 0 removes them all; a failed write keeps the tags
    // shown and says why.
    void colourTags()
    {
        Viewer v({u"a.jpg"_s});
        v.tags.tags.insert(u"a.jpg"_s, {u"Work"_s});
        v.s.open(v.url(u"a.jpg"_s));
        const auto key = [&v](const char *text) {
            return viewer::handleDigitKey(v.s, QString::fromLatin1(text));
        };
        QVERIFY(key("1") && key("7") && key("2") && key("3") && key("2")); // 2 toggles off again
        QCOMPARE(v.s.currentTags(), (QStringList{u"Work"_s, u"Red"_s, u"Gray"_s, u"Yellow"_s}));
        QVERIFY(key("0"));
        QCOMPARE(v.s.currentTags(), QStringList{u"Work"_s});
        // Not a tag number, or not a number: the key passes on and nothing changes.
        for (const char *text : {"8", "9", "a", "", " 1", "1.5"})
            QVERIFY2(!key(text), text);
        QCOMPARE(v.s.currentTags(), QStringList{u"Work"_s});
        // Nothing to remove on a file system that cannot keep tags: no write, no alert.
        v.tags.writeError = u"Operation not supported"_s;
        v.s.removeColorTags();
        QVERIFY(!v.s.errorMessage());
        v.s.toggleTag(FinderTag::green);
        QCOMPARE(v.s.currentTags(), QStringList{u"Work"_s});
        QCOMPARE(v.s.errorMessage(), std::optional(u"Operation not supported"_s));
    }

    // The navigator keeps 12 points from the bottom, 60 more while the thumbnail strip is
    // there (enabled, and more than one image); it shows for a zoomed image that loaded.
    void navigatorPlacementAboveTheStrip()
    {
        TestServices t;
        AppState s(t.services);
        QVERIFY(!navigator::isShownFor(s));
        const QUrl a = fakeUrl(u"a.jpg"_s);
        s.setCurrentURL(a);
        s.setShowThumbnailBar(true);
        s.setImageFiles({a});
        QCOMPARE(navigator::bottomInsetFor(s), 12.0);
        s.setImageFiles({a, fakeUrl(u"b.jpg"_s)});
        QCOMPARE(navigator::bottomInsetFor(s), 72.0);
        s.setShowThumbnailBar(false);
        QCOMPARE(navigator::bottomInsetFor(s), 12.0);
        auto image = std::make_shared<DisplayImage>();
        image->pointSize = QSizeF(6000, 4000);
        s.setCurrentImage(DecodedImage{image, std::nullopt, image, 1.0});
        s.setVisibleRect(QRectF(0.2, 0.2, 0.32, 0.27));
        QVERIFY(navigator::isShownFor(s));
        s.setLoadFailed(true);
        QVERIFY(!navigator::isShownFor(s));
    }

    void renameUpdatesListAndTitleAtOnce()
    {
        FileViewer v(letters(3));
        v.open(u"b.jpg"_s, 3);
        v.s.beginRename();
        QVERIFY(v.s.showRenamePrompt());
        QCOMPARE(v.s.renameText(), u"b.jpg"_s);
        v.s.rename(u"  \n z.jpg \t"_s);
        QCOMPARE(v.s.currentURL(), v.shown(u"z.jpg"_s));
        QCOMPARE(names(v.s.imageFiles()), (QStringList{u"a.jpg"_s, u"z.jpg"_s, u"c.jpg"_s}));
        QCOMPARE(v.s.windowTitle(), u"z.jpg [2/3]"_s);
        QVERIFY(v.s.loadTaskURLs().contains(v.url(u"z.jpg"_s)));
        QVERIFY(!QFile::exists(v.f.dir.filePath(u"b.jpg"_s)) && !v.s.errorMessage());
        // The rescan sorts it into place.
        QTRY_COMPARE(names(v.s.imageFiles()), (QStringList{u"a.jpg"_s, u"c.jpg"_s, u"z.jpg"_s}));
        QCOMPARE(v.s.currentIndex(), 2);
        // A dialog still open after a slideshow step or a folder change acts on its own file.
        v.s.deleteFile(v.url(u"a.jpg"_s), true);
        v.s.renameFile(v.url(u"c.jpg"_s), u"d.jpg"_s);
        QVERIFY(!QFile::exists(v.f.dir.filePath(u"a.jpg"_s)));
        QCOMPARE(v.s.currentURL(), v.shown(u"z.jpg"_s));
        QCOMPARE(names(v.s.imageFiles()), (QStringList{u"d.jpg"_s, u"z.jpg"_s}));
        QCOMPARE(v.s.currentIndex(), 1);
    }

    // Nothing happens for an empty or unchanged name; an invalid or taken one is refused
    // with the reason, and the other file keeps its contents.
    void renameRefusals()
    {
        const auto invalid = [](const QString &name) {
            return u"\""_s + name + u"\" is not a valid file name."_s;
        };
        const QString nul = u"x"_s + QChar(0) + u"y.jpg"_s;
        for (const auto &[name, error] :
             {std::pair{u"  "_s, QString()}, std::pair{u" b.jpg"_s, QString()},
              std::pair{u".hidden"_s, invalid(u".hidden"_s)},
              std::pair{u"x/y"_s, invalid(u"x/y"_s)}, std::pair{nul, invalid(nul)},
              std::pair{u"c.jpg"_s, qt_error_string(EEXIST)}}) {
            FileViewer v(letters(3));
            QFile c(v.f.dir.filePath(u"c.jpg"_s));
            QVERIFY(c.open(QIODevice::WriteOnly) && c.write("other") == 5);
            c.close();
            v.open(u"b.jpg"_s, 3);
            const QList<QUrl> before = v.s.imageFiles();
            v.s.rename(name);
            QCOMPARE(v.s.errorMessage().value_or(QString()), error);
            QCOMPARE(v.s.currentURL(), v.shown(u"b.jpg"_s));
            QCOMPARE(v.s.imageFiles(), before);
            QVERIFY(QFile::exists(v.f.dir.filePath(u"b.jpg"_s)));
            QCOMPARE(readFile(v.f.dir.filePath(u"c.jpg"_s)), QByteArray("other"));
        }
    }

    void deleteShowsTheNextImage()
    {
        for (const auto &[count, deleted, next] :
             {std::tuple{3, "a.jpg", "b.jpg"}, std::tuple{3, "b.jpg", "c.jpg"},
              std::tuple{3, "c.jpg", "b.jpg"}, std::tuple{1, "a.jpg", ""}}) {
            FileViewer v(letters(count));
            const QString name = QString::fromLatin1(deleted);
            v.open(name, count);
            v.s.requestDelete();
            QVERIFY(v.s.showDeleteConfirmation());
            QVERIFY(!v.s.deleteIsPermanent()); // the home trash is on this volume
            v.s.performDelete();
            QVERIFY(!v.s.errorMessage() && !QFile::exists(v.f.dir.filePath(name)));
            QVERIFY(QFile::remove(dataHome_.path() + u"/Trash/info/"_s + name + u".trashinfo"_s));
            QFile::remove(dataHome_.path() + u"/Trash/files/"_s + name);
            QCOMPARE(v.s.imageFiles().size(), count - 1);
            QCOMPARE(v.s.currentURL(),
                     count == 1 ? std::nullopt : v.shown(QString::fromLatin1(next)));
        }
    }

    // Onto a taken name nothing moves and the other file is kept; the folder is
    // remembered even when the operation fails.
    void moveAndCopy()
    {
        for (const auto &[move, clash] : {std::pair{true, false}, std::pair{true, true},
                                          std::pair{false, false}, std::pair{false, true}}) {
            FileViewer v(letters(3));
            QTemporaryDir target;
            QFile other(target.filePath(u"b.jpg"_s));
            QVERIFY(!clash || (other.open(QIODevice::WriteOnly) && other.write("theirs") == 6));
            other.close();
            v.open(u"b.jpg"_s, 3);
            const QUrl folder = QUrl::fromLocalFile(target.path());
            move ? v.s.moveToFolder(folder) : v.s.copyToFolder(folder);
            QCOMPARE(v.s.settings().lastTransferFolder(), std::optional(target.path()));
            QCOMPARE(v.s.errorMessage(),
                     clash ? std::optional(qt_error_string(EEXIST)) : std::nullopt);
            QCOMPARE(QFile::exists(v.f.dir.filePath(u"b.jpg"_s)), !move || clash);
            if (clash)
                QCOMPARE(readFile(target.filePath(u"b.jpg"_s)), QByteArray("theirs"));
            const bool gone = move && !clash;
            QCOMPARE(v.s.imageFiles().size(), gone ? 2 : 3);
            QCOMPARE(v.s.currentURL(), v.shown(gone ? u"c.jpg"_s : u"b.jpg"_s));
        }
    }

    void copyImageTakesFileAndRotationOfTheCommand()
    {
        Viewer v(letters(3));
        v.images.failing.insert(u"c.jpg"_s);
        v.open(u"a.jpg"_s, 3);
        v.images.setGated(true);
        v.s.copyImage();
        v.s.navigate(+1); // before the decode finishes
        v.images.release(u"a.jpg"_s, u"b.jpg"_s);
        QTRY_COMPARE(v.desktop.clipboard.size(), 1);
        QCOMPARE(v.desktop.clipboard[0].text(u"file"_s), u"a.jpg"_s);
        QCOMPARE(v.desktop.clipboard[0].size(), QSize(40, 30));
        v.images.release(u"c.jpg"_s);
        v.s.navigate(+1);
        v.s.copyImage(); // cannot be decoded: nothing
        v.s.navigate(-1);
        v.s.copyImage();
        QTRY_COMPARE(v.desktop.clipboard.size(), 2);
        QCOMPARE(v.desktop.clipboard[1].text(u"file"_s), u"b.jpg"_s);
        v.s.rotate(+1); // not saved: only shown turned
        QTRY_COMPARE(v.s.rotationSteps(), 1);
        v.s.copyImage();
        QTRY_COMPARE(v.desktop.clipboard.size(), 3);
        QCOMPARE(v.desktop.clipboard[2].size(), QSize(30, 40));
    }

    // The first file goes to the shown (or first) window; the rest to new windows, or
    // nowhere in single-window mode, where a second, empty window is closed as soon as it
    // registers. Files arriving before any window wait for it.
    void filesGoToTheFirstWindow()
    {
        for (const auto &[multi, windowFirst] : {std::pair{false, true}, std::pair{true, true},
                                                 std::pair{true, false}, std::pair{false, false}}) {
            Windows w;
            w.settings.values.insert(u"multiWindowMode"_s, multi);
            AppState *s = windowFirst ? &w.show() : nullptr;
            w.router.openFiles({w.url(u"a.jpg"_s), w.url(u"b.jpg"_s), w.url(u"c.jpg"_s)});
            if (!s) {
                QCOMPARE(w.router.pendingURLs().size(), 3);
                s = &w.show();
            }
            QCOMPARE(s->currentURL(), w.shown(u"a.jpg"_s));
            const QList<QUrl> rest{w.url(u"b.jpg"_s), w.url(u"c.jpg"_s)};
            QCOMPARE(w.newWindowRequests, multi ? rest : QList<QUrl>());
            QVERIFY(w.router.pendingURLs().isEmpty());
            // Memory pressure cancels the prefetches of a's neighbours.
            QTRY_COMPARE(s->loadTaskURLs().size(), 3);
            w.router.relieveMemoryPressure();
            QCOMPARE(s->loadTaskURLs(), QList<QUrl>{w.url(u"a.jpg"_s)});
            w.show();
            QCOMPARE(w.platform[1]->isVisible(), multi);
            QVERIFY(w.platform[0]->isVisible());
        }
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
            w.states.push_back(std::make_unique<AppState>(w.services));
            w.router.windowShown(*w.states.back(), u, openWindow);
            --depth;
        };
        w.router.windowShown(first, std::nullopt, openWindow);
        w.router.openFiles({w.url(u"a.jpg"_s), w.url(u"b.jpg"_s), w.url(u"c.jpg"_s)});
        QCOMPARE(opened, (QList<QUrl>{w.url(u"b.jpg"_s), w.url(u"c.jpg"_s)}));
        QCOMPARE(w.router.states().size(), 3);
        QCOMPARE(deepest, 1);
    }

    // A later launch brings forward the window that took its file: the shared window (even
    // when an older one exists), an empty window that took it, or none when a new window
    // opens for it.
    void handOffTarget()
    {
        for (const auto &[multi, emptyWindow, target] :
             {std::tuple{false, 0, 1}, std::tuple{true, 1, 1}, std::tuple{true, -1, -1}}) {
            Windows w;
            for (int i = 0; i < 2; ++i)
                w.show(i == emptyWindow ? std::nullopt : w.shown(u"a.jpg"_s));
            w.settings.values.insert(u"multiWindowMode"_s, multi);
            w.router.openFiles({w.url(u"c.jpg"_s)});
            QCOMPARE(w.router.lastTarget(), target < 0 ? nullptr : w.states[size_t(target)].get());
            if (target >= 0)
                QCOMPARE(w.router.lastTarget()->currentURL(), w.shown(u"c.jpg"_s));
            else
                QCOMPARE(w.newWindowRequests, QList<QUrl>{w.url(u"c.jpg"_s)});
        }
    }

    void thumbnailCacheSharesDecodesRetriesFailuresAndKeepsFiveHundred()
    {
        TestServices t;
        t.images.setGated(true);
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red, {400, 300}));
        t.images.failing.insert(u"bad.jpg"_s);
        const QUrl a = fakeUrl(u"a.jpg"_s), bad = fakeUrl(u"bad.jpg"_s);
        QObject context;
        Received first, second, failed;
        t.thumbnails.thumbnailForURL(a, &context, first.callback());
        t.thumbnails.thumbnailForURL(a, &context, second.callback());
        t.thumbnails.thumbnailForURL(bad, &context, failed.callback());
        t.images.release(u"a.jpg"_s, u"bad.jpg"_s);
        QTRY_COMPARE(second.results.size() + failed.results.size(), 2);
        QCOMPARE(first.results.size(), 1);
        QCOMPARE(t.images.thumbnailCalls.load(), 2);
        // Both get the same image, bounded to 120 pixels on its longer side.
        QCOMPARE(first.results[0]->size(), QSize(120, 90));
        QCOMPARE(first.results[0]->cacheKey(), second.results[0]->cacheKey());
        QVERIFY(!failed.results[0]);
        // Kept: served without a decode. A failure is not: asking again decodes again.
        t.thumbnails.thumbnailForURL(a, &context, first.callback());
        t.thumbnails.thumbnailForURL(bad, &context, failed.callback());
        QTRY_COMPARE(first.results.size() + failed.results.size(), 4);
        QCOMPARE(t.images.thumbnailCalls.load(), 3);
        // At most 500 are kept, the least recently used dropped first (a, just used, stays).
        t.images.releaseAll();
        for (int i = 0; i < thumbnailCacheLimit - 1; ++i)
            t.thumbnails.thumbnailForURL(fakeUrl(u"%1.jpg"_s.arg(i)), &context, second.callback());
        QTRY_COMPARE(second.results.size(), thumbnailCacheLimit);
        QVERIFY(t.thumbnails.cached(a));
        t.thumbnails.thumbnailForURL(fakeUrl(u"new.jpg"_s), &context, second.callback());
        QTRY_COMPARE(second.results.size(), thumbnailCacheLimit + 1);
        QCOMPARE(t.thumbnails.count(), thumbnailCacheLimit);
        QVERIFY(t.thumbnails.cached(a) && !t.thumbnails.cached(fakeUrl(u"0.jpg"_s)));
    }

    // The file is rewritten (a rotation saved) while its old thumbnail is being made: the
    // awaiter gets the new contents, and only they are kept. A rename drops it.
    void aThumbnailMadeBeforeAnInvalidationIsNotKept()
    {
        FileViewer v(letters(2));
        v.images.setGated(true);
        const QUrl a = v.url(u"a.jpg"_s);
        v.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red));
        QObject context;
        Received r;
        v.thumbnails.thumbnailForURL(a, &context, r.callback());
        QTRY_COMPARE(v.images.thumbnailCalls.load(), 1); // decoding the old contents
        v.thumbnails.invalidateThumbnail(a);
        v.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::blue));
        v.images.release(u"a.jpg"_s);
        QTRY_COMPARE(r.results.size(), 1);
        QVERIFY(r.results[0] && v.thumbnails.cached(a));
        QCOMPARE(r.results[0]->pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(v.thumbnails.cached(a)->pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(v.images.thumbnailCalls.load(), 2);

        v.images.setGated(false);
        v.open(u"a.jpg"_s, 2);
        v.s.rename(u"z.jpg"_s);
        QVERIFY(!v.thumbnails.cached(a));
    }

    void histogramLoaderDropsResultsForAnotherFile()
    {
        TestServices t;
        t.images.thumbnails.insert(u"a.jpg"_s, filled(Qt::red, {4, 4}));
        t.images.thumbnails.insert(u"b.jpg"_s, filled(Qt::blue, {4, 4}));
        t.images.failing.insert(u"bad.jpg"_s);
        HistogramLoader loader(t.images, t.tasks);
        t.images.setGated(true);
        // a's count finishes and its delivery is queued when the panel moves on to b.
        loader.setUrl(fakeUrl(u"a.jpg"_s));
        QCOMPARE(loader.status(), HistogramLoader::Status::computing);
        t.images.release(u"a.jpg"_s);
        t.tasks.waitForDone();
        loader.setUrl(fakeUrl(u"b.jpg"_s));
        QCoreApplication::processEvents();
        QCOMPARE(loader.status(), HistogramLoader::Status::computing);
        QVERIFY(!loader.data());
        t.images.release(u"b.jpg"_s);
        QTRY_COMPARE(loader.status(), HistogramLoader::Status::ready);
        QCOMPARE(loader.data()->blue[255], 16u);
        // A file without counts ends the wait instead of leaving it open.
        t.images.release(u"bad.jpg"_s);
        loader.setUrl(fakeUrl(u"bad.jpg"_s));
        QTRY_COMPARE(loader.status(), HistogramLoader::Status::failed);
        QVERIFY(!loader.data());
    }

    // Utility work must really run below the rest: QThread::LowPriority alone is a no-op
    // under Linux's default scheduler.
    void utilityWorkRunsAtALowerPriority()
    {
        TaskRuntime runtime;
        const auto niceness = [&runtime](TaskPriority priority) {
            return runtime
                .run(priority,
                     [](const CancellationToken &) { return getpriority(PRIO_PROCESS, gettid()); })
                .waitForResult()
                .value_or(-100);
        };
        const int base = getpriority(PRIO_PROCESS, 0);
        QCOMPARE(niceness(TaskPriority::userInitiated), base);
        QCOMPARE(niceness(TaskPriority::utility), std::min(base + utilityNiceness, 19));
    }

    // Early and late awaiters get the same kept result, on the main thread, never inline;
    // an awaiter whose context is gone (a closed window) gets nothing. The work runs once.
    void taskResultIsSharedAndKept()
    {
        TaskRuntime runtime;
        QSemaphore release;
        std::atomic<int> runs = 0;
        Task<int> task = runtime.run(TaskPriority::userInitiated, [&](const CancellationToken &) {
            release.acquire();
            return 41 + ++runs;
        });
        QList<int> got;
        QObject context;
        const auto await = [&](QObject *on) {
            task.then(on, [&](const std::optional<int> &v) {
                QCOMPARE(QThread::currentThread(), qApp->thread());
                got << v.value_or(-1);
            });
        };
        auto *closed = new QObject;
        for (QObject *on : {&context, &context, closed})
            await(on);
        delete closed;
        QCOMPARE(task.result(), std::nullopt);
        release.release();
        QTRY_COMPARE(got, (QList<int>{42, 42}));
        QCOMPARE(task.result(), std::optional(42));
        await(&context);
        QCOMPARE(got.size(), 2); // never inline
        QTRY_COMPARE(got, (QList<int>{42, 42, 42}));
    }

    // Cancelled before it starts, work never runs; cancelled while running, it sees it
    // through its token and the thread's current token, and its result is dropped.
    void cancelledWorkDeliversNothing()
    {
        TaskRuntime runtime(1, 1);
        QSemaphore started;
        std::atomic<bool> sawCurrent = false, ran = false;
        Task<int> running = runtime.run(TaskPriority::utility, [&](const CancellationToken &token) {
            started.release();
            while (!token.isCancelled())
                QThread::yieldCurrentThread();
            sawCurrent = CancellationToken::current().isCancelled();
            return 5;
        });
        Task<int> queued = runtime.run(TaskPriority::utility, [&](const CancellationToken &) {
            ran = true;
            return 1;
        });
        started.acquire();
        queued.cancel();
        running.cancel();
        QCOMPARE(running.waitForResult(), std::nullopt);
        QVERIFY(sawCurrent);
        QObject context;
        std::optional<std::optional<int>> delivered;
        queued.then(&context, [&](const std::optional<int> &v) { delivered = v; });
        QTRY_VERIFY(delivered);
        QCOMPARE(*delivered, std::nullopt);
        QVERIFY(!ran && !CancellationToken::current().isCancelled());
    }

    // A debounce restarted by replacement runs once, after the last restart, on the main
    // thread; a dropped or cancelled handle, or one of a scheduler destroyed, never runs.
    void qtSchedulerHonoursReplacementAndCancellation()
    {
        int runs = 0, cancelled = 0;
        ScheduledAction orphan;
        {
            QtScheduler gone;
            orphan = gone.after(0, [&] { ++cancelled; });
        }
        QtScheduler scheduler;
        const double start = scheduler.now();
        ScheduledAction handle = scheduler.after(0.01, [&] { ++cancelled; });
        std::ignore = scheduler.after(0, [&] { ++cancelled; }); // dropped at once
        ScheduledAction stopped = scheduler.after(0, [&] { ++cancelled; });
        stopped.cancel();
        handle = scheduler.after(0.02, [&] {
            ++runs;
            QCOMPARE(QThread::currentThread(), qApp->thread());
            QVERIFY(scheduler.now() - start >= 0.02);
        });
        QTRY_COMPARE(runs, 1);
        QCOMPARE(cancelled, 0);
    }
};

QTEST_MAIN(TestViewerState)
#include "tst_viewerstate.moc"
