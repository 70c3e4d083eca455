// A viewer state on real folders, real decoding and the real folder watch, while the test
// changes the folders the way other programs do.
#include "core/listing/FolderListing.h"
#include "core/state/AppState.h"
#include "imageio/ImageIOService.h"
#include "platform/watch/InotifyDirectoryWatcher.h"
#include "support/TestServices.h"

#include <QAbstractEventDispatcher>
#include <QBuffer>
#include <QDir>
#include <QMutex>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;

namespace {

// Real decoding that counts the decodes finished per file name.
class CountingImages final : public ImageService {
public:
    const QSet<QString> &supportedExtensions() const override
    {
        return real_.supportedExtensions();
    }
    bool isSupportedImageFile(const QUrl &url) const override
    {
        return real_.isSupportedImageFile(url);
    }
    std::optional<DecodedImage> decodeImage(const QUrl &url,
                                            std::optional<int> maxPixelSize) const override
    {
        auto result = real_.decodeImage(url, maxPixelSize);
        QMutexLocker lock(&mutex_);
        ++finished_[url.fileName()];
        return result;
    }
    std::optional<ImageProperties> readProperties(const QUrl &url) const override
    {
        return real_.readProperties(url);
    }
    int finished(const QString &name) const
    {
        QMutexLocker lock(&mutex_);
        return finished_.value(name);
    }

private:
    ImageIOService real_;
    mutable QMutex mutex_;
    mutable QHash<QString, int> finished_;
};

struct LiveServices {
    MemorySettingsStore settings;
    VirtualScheduler scheduler;
    CountingImages images;
    FakeScreens screens;
    InotifyDirectoryWatcherFactory watchers;
    FakeTagStore tags;
    FakePointer pointer;
    RefusingFileOperations files;
    FakeDesktop desktop;
    ThumbnailCache thumbnails{images, tasks};
    TaskRuntime tasks;
    AppServices services{settings, scheduler, tasks, images,  screens,   watchers,
                         tags,     pointer,   files, desktop, thumbnails};
};

QByteArray png(Qt::GlobalColor colour, int side = 8)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Writes through the byte path, in place (same inode when the file exists).
bool writeFile(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && written;
}

// As editors save: a hidden temporary file renamed over the old one.
bool replaceFile(const QByteArray &path, const QByteArray &data)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray temporary = path.left(slash + 1) + '.' + path.mid(slash + 1) + ".tmp";
    return writeFile(temporary, data) && ::rename(temporary.constData(), path.constData()) == 0;
}

QColor shownColour(const AppState &s)
{
    const auto &image = s.currentImage();
    return image && image->bitmap ? image->bitmap->pixelColor(0, 0) : QColor();
}

struct Album {
    QTemporaryDir parent;
    QByteArray path;
    explicit Album(const char *name = "album") : path(QFile::encodeName(parent.path()) + '/' + name)
    {
        QDir().mkpath(QFile::decodeName(path));
    }
    QByteArray file(const QByteArray &name) const { return path + '/' + name; }
    QUrl url(const QByteArray &name) const { return fileUrlFromLocalPath(file(name)); }
};

} // namespace

// Runs the rescans that folder events asked for (the debounce is on the virtual clock)
// until the condition holds.
#define FOLLOW_UNTIL(t, condition)                                                                 \
    QTRY_VERIFY_WITH_TIMEOUT(((t).scheduler.advance(0.3), (condition)), 10000)

class TestFolderFollowing : public QObject {
    Q_OBJECT

private slots:
    // A shown file replaced (an editor's atomic save) or rewritten in place is decoded
    // again however the user looks at it next.
    void changedFilesAreDecodedAgain_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QString>("look");
        for (const bool inPlace : {false, true}) {
            const char *how = inPlace ? "rewritten in place" : "replaced";
            for (const char *look : {"rescan", "step away and back", "open again"})
                QTest::addRow("%s, %s", how, look) << inPlace << QString::fromLatin1(look);
        }
    }
    void changedFilesAreDecodedAgain()
    {
        QFETCH(bool, inPlace);
        QFETCH(QString, look);
        LiveServices t;
        Album album;
        QVERIFY(writeFile(album.file("a.png"), png(Qt::red)));
        QVERIFY(writeFile(album.file("b.png"), png(Qt::green)));
        AppState s(t.services);
        s.open(album.url("a.png"));
        QTRY_VERIFY(s.imageFiles().size() == 2 && shownColour(s) == Qt::red);

        // Another size: a rewrite within the same clock tick still differs on disk.
        const QByteArray blue = png(Qt::blue, 9);
        QVERIFY(inPlace ? writeFile(album.file("a.png"), blue)
                        : replaceFile(album.file("a.png"), blue));
        if (look == u"rescan") {
            FOLLOW_UNTIL(t, shownColour(s) == Qt::blue);
        } else if (look == u"step away and back") {
            s.navigate(+1);
            QTRY_COMPARE(shownColour(s), QColor(Qt::green));
            s.navigate(-1);
            QTRY_COMPARE(shownColour(s), QColor(Qt::blue));
        } else {
            s.open(album.url("a.png"));
            QTRY_COMPARE(shownColour(s), QColor(Qt::blue));
        }
        QVERIFY(!s.loadFailed());
    }

    // A copy caught half-written fails to decode (or decodes garbage); once complete it
    // shows, whether the user steps to it or was already looking at it.
    void copiesAreShownOnceComplete_data()
    {
        QTest::addColumn<bool>("shownWhileArriving");
        QTest::newRow("prefetched while arriving, then stepped to") << false;
        QTest::newRow("shown while arriving") << true;
    }
    void copiesAreShownOnceComplete()
    {
        QFETCH(bool, shownWhileArriving);
        LiveServices t;
        Album album;
        QVERIFY(writeFile(album.file("a.png"), png(Qt::red)));
        const QByteArray green = png(Qt::green, 64);
        QVERIFY(writeFile(album.file("b.png"), green.left(green.size() / 2)));
        AppState s(t.services);
        s.open(album.url(shownWhileArriving ? "b.png" : "a.png"));
        QTRY_VERIFY(s.imageFiles().size() == 2 && t.images.finished(QStringLiteral("b.png")) >= 1);
        if (shownWhileArriving)
            QTRY_VERIFY(s.isCurrentFileLoaded());

        // The rest arrives; the copy closes the file.
        const int fd = ::open(album.file("b.png").constData(), O_WRONLY | O_APPEND);
        QVERIFY(fd >= 0);
        const QByteArray rest = green.mid(green.size() / 2);
        QCOMPARE(::write(fd, rest.constData(), size_t(rest.size())), ssize_t(rest.size()));
        QCOMPARE(::close(fd), 0);
        if (shownWhileArriving) {
            FOLLOW_UNTIL(t, shownColour(s) == Qt::green);
        } else {
            s.navigate(+1);
            QTRY_COMPARE(shownColour(s), QColor(Qt::green));
        }
        QVERIFY(!s.loadFailed());
    }

    // `mv album album.old; mkdir album`: the window follows the new folder from then on.
    void replacedFolderIsWatchedAgain()
    {
        LiveServices t;
        Album album;
        QVERIFY(writeFile(album.file("a.png"), png(Qt::red)));
        AppState s(t.services);
        s.open(album.url("a.png"));
        QTRY_VERIFY(s.directoryWatcher() && shownColour(s) == Qt::red);

        QVERIFY(::rename(album.path.constData(), (album.path + ".old").constData()) == 0);
        QVERIFY(::mkdir(album.path.constData(), 0755) == 0);
        QVERIFY(writeFile(album.file("a.png"), png(Qt::red)));
        QVERIFY(writeFile(album.file("b.png"), png(Qt::green)));
        FOLLOW_UNTIL(t, s.imageFiles().size() == 2);
        // Only a watch on the new folder sees this.
        QVERIFY(writeFile(album.file("c.png"), png(Qt::blue)));
        FOLLOW_UNTIL(t, s.imageFiles().size() == 3);
        QCOMPARE(s.currentURL(), std::optional(album.url("a.png")));
    }

    // Names that are not UTF-8 and links to photos elsewhere are listed and shown; a
    // link is titled by its own name.
    void oddNamesAndLinksAreShown()
    {
        LiveServices t;
        Album album;
        Album elsewhere("elsewhere");
        const auto removeOdd =
            qScopeGuard([&] { ::unlink(album.file("caf\xe9.png").constData()); });
        QVERIFY(writeFile(album.file("a.png"), png(Qt::green)));
        QVERIFY(writeFile(album.file("caf\xe9.png"), png(Qt::red)));
        QVERIFY(writeFile(elsewhere.file("real.png"), png(Qt::blue)));
        QVERIFY(::symlink(elsewhere.file("real.png").constData(),
                          album.file("link.png").constData()) == 0);
        AppState s(t.services);
        s.open(album.url("a.png"));
        QTRY_VERIFY(s.imageFiles().size() == 3 && shownColour(s) == Qt::green);

        const QHash<QByteArray, QColor> expected{
            {"a.png", Qt::green}, {"caf\xe9.png", Qt::red}, {"link.png", Qt::blue}};
        for (int step = 0; step < 3; ++step) {
            s.navigate(+1);
            const QByteArray name = localPath(*s.currentURL()).mid(album.path.size() + 1);
            QVERIFY2(expected.contains(name), name.constData());
            QTRY_COMPARE(shownColour(s), expected.value(name));
            QVERIFY(s.windowTitle().startsWith(QFile::decodeName(name) + QLatin1Char(' ')));
        }
        // Opened directly, as a second launch or a drop would.
        s.open(album.url("caf\xe9.png"));
        QCOMPARE(localPath(*s.currentURL()), album.file("caf\xe9.png"));
        QTRY_COMPARE(shownColour(s), QColor(Qt::red));
    }
};

QTEST_MAIN(TestFolderFollowing)
#include "tst_folderfollowing.moc"
