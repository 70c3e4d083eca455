// A viewer state on real folders, real decoding and the real folder watch, while the test
// changes the folders the way other programs do.
#include "core/listing/FolderListing.h"
#include "core/state/AppState.h"
#include "imageio/ImageIOService.h"
#include "platform/watch/InotifyDirectoryWatcher.h"
#include "support/TestServices.h"

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
    std::optional<DecodedImage> decodeImage(const QUrl &url, std::optional<int> max) const override
    {
        auto result = real_.decodeImage(url, max);
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

using LiveServices = ServicesWith<CountingImages, InotifyDirectoryWatcherFactory>;

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

// Writes through the byte path, in place (same inode when the file exists), or appending.
bool writeFile(const QByteArray &path, const QByteArray &data, int mode = O_TRUNC)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | mode, 0644);
    const bool written =
        fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return fd >= 0 && ::close(fd) == 0 && written;
}

QColor shownColour(const AppState &s)
{
    const auto &image = s.currentImage();
    return image && image->bitmap ? image->bitmap->pixelColor(0, 0) : QColor();
}

// A folder of PNGs of one colour each, and a viewer state on the live services.
struct Album {
    LiveServices t;
    QTemporaryDir parent;
    QByteArray path = QFile::encodeName(parent.path()) + "/album";
    AppState s{t.services};
    explicit Album(const QList<std::pair<QByteArray, QByteArray>> &files)
    {
        ::mkdir(path.constData(), 0755);
        for (const auto &[name, data] : files)
            writeFile(file(name), data);
    }
    QByteArray file(const QByteArray &name) const { return path + '/' + name; }
    QUrl url(const QByteArray &name) const { return fileUrlFromLocalPath(file(name)); }
    // Runs the rescans that folder events asked for (the debounce is on the virtual clock).
    bool follow() { return t.scheduler.advance(0.3), true; }
};

} // namespace

#define FOLLOW_UNTIL(album, condition)                                                             \
    QTRY_VERIFY_WITH_TIMEOUT((album).follow() && (condition), 10000)

class TestFolderFollowing : public QObject {
    Q_OBJECT

private slots:
    // A shown file replaced (an editor's atomic save) or rewritten in place is decoded
    // again however the user looks at it next.
    void changedFilesAreDecodedAgain_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QString>("look");
        for (const bool inPlace : {false, true})
            for (const char *look : {"rescan", "step away and back", "open again"})
                QTest::addRow("%s, %s", inPlace ? "rewritten in place" : "replaced", look)
                    << inPlace << QString::fromLatin1(look);
    }
    void changedFilesAreDecodedAgain()
    {
        QFETCH(bool, inPlace);
        QFETCH(QString, look);
        Album a({{"a.png", png(Qt::red)}, {"b.png", png(Qt::green)}});
        a.s.open(a.url("a.png"));
        QTRY_VERIFY(a.s.imageFiles().size() == 2 && shownColour(a.s) == Qt::red);

        // Another size: a rewrite within the same clock tick still differs on disk.
        const QByteArray blue = png(Qt::blue, 9);
        const QByteArray temporary = a.file(".a.png.tmp");
        QVERIFY(inPlace ? writeFile(a.file("a.png"), blue)
                        : writeFile(temporary, blue) &&
                              ::rename(temporary.constData(), a.file("a.png").constData()) == 0);
        if (look == u"rescan") {
            FOLLOW_UNTIL(a, shownColour(a.s) == Qt::blue);
        } else if (look == u"step away and back") {
            a.s.navigate(+1);
            QTRY_COMPARE(shownColour(a.s), QColor(Qt::green));
            a.s.navigate(-1);
        } else {
            a.s.open(a.url("a.png"));
        }
        QTRY_COMPARE(shownColour(a.s), QColor(Qt::blue));
        QVERIFY(!a.s.loadFailed());
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
        const QByteArray green = png(Qt::green, 64);
        Album a({{"a.png", png(Qt::red)}, {"b.png", green.left(green.size() / 2)}});
        a.s.open(a.url(shownWhileArriving ? "b.png" : "a.png"));
        QTRY_VERIFY(a.s.imageFiles().size() == 2 && a.t.images.finished(u"b.png"_s) >= 1);
        if (shownWhileArriving)
            QTRY_VERIFY(a.s.isCurrentFileLoaded());
        // The rest arrives; the copy closes the file.
        QVERIFY(writeFile(a.file("b.png"), green.mid(green.size() / 2), O_APPEND));
        if (shownWhileArriving)
            FOLLOW_UNTIL(a, shownColour(a.s) == Qt::green);
        else
            a.s.navigate(+1);
        QTRY_COMPARE(shownColour(a.s), QColor(Qt::green));
        QVERIFY(!a.s.loadFailed());
    }

    // `mv album album.old; mkdir album`: the window follows the new folder from then on.
    void replacedFolderIsWatchedAgain()
    {
        Album a({{"a.png", png(Qt::red)}});
        a.s.open(a.url("a.png"));
        QTRY_VERIFY(a.s.directoryWatcher() && shownColour(a.s) == Qt::red);
        QVERIFY(::rename(a.path.constData(), (a.path + ".old").constData()) == 0);
        QVERIFY(::mkdir(a.path.constData(), 0755) == 0);
        QVERIFY(writeFile(a.file("a.png"), png(Qt::red)) &&
                writeFile(a.file("b.png"), png(Qt::green)));
        FOLLOW_UNTIL(a, a.s.imageFiles().size() == 2);
        // Only a watch on the new folder sees this.
        QVERIFY(writeFile(a.file("c.png"), png(Qt::blue)));
        FOLLOW_UNTIL(a, a.s.imageFiles().size() == 3);
        QCOMPARE(a.s.currentURL(), std::optional(a.url("a.png")));
    }

    // Names that are not UTF-8 and links to photos elsewhere are listed and shown; a
    // link is titled by its own name.
    void oddNamesAndLinksAreShown()
    {
        Album a({{"a.png", png(Qt::green)}, {"caf\xe9.png", png(Qt::red)}});
        const auto removeOdd = qScopeGuard([&] { ::unlink(a.file("caf\xe9.png").constData()); });
        QVERIFY(writeFile(a.path + ".real.png", png(Qt::blue)));
        QVERIFY(::symlink((a.path + ".real.png").constData(), a.file("link.png").constData()) == 0);
        a.s.open(a.url("a.png"));
        QTRY_VERIFY(a.s.imageFiles().size() == 3 && shownColour(a.s) == Qt::green);

        const QHash<QByteArray, QColor> expected{
            {"a.png", Qt::green}, {"caf\xe9.png", Qt::red}, {"link.png", Qt::blue}};
        for (int step = 0; step < 3; ++step) {
            a.s.navigate(+1);
            const QByteArray name = localPath(*a.s.currentURL()).mid(a.path.size() + 1);
            QVERIFY2(expected.contains(name), name.constData());
            QTRY_COMPARE(shownColour(a.s), expected.value(name));
            QVERIFY(a.s.windowTitle().startsWith(QFile::decodeName(name) + QLatin1Char(' ')));
        }
        // Opened directly, as a second launch or a drop would.
        a.s.open(a.url("caf\xe9.png"));
        QCOMPARE(localPath(*a.s.currentURL()), a.file("caf\xe9.png"));
        QTRY_COMPARE(shownColour(a.s), QColor(Qt::red));
    }
};

QTEST_MAIN(TestFolderFollowing)
#include "tst_folderfollowing.moc"
