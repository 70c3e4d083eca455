#include "core/state/AppState.h"
#include "imageio/ExifReader.h"
#include "imageio/ExifWriter.h"
#include "imageio/FileRewrite.h"
#include "imageio/HeifBoxes.h"
#include "imageio/ImageDecoding.h"
#include "imageio/ImageIOService.h"
#include "imageio/Orientation.h"
#include "imageio/Rotation.h"
#include "imageio/RotationSave.h"
#include "support/ImageFixtures.h"
#include "support/TestServices.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <tiffio.h>

#include <csignal>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

int orientationOf(const QString &path)
{
    return readStoredOrientation(readFile(path)).value_or(-1);
}

// The image data a tag rewrite must not touch: a JPEG's entropy-coded data from its first
// start-of-scan marker, or a TIFF's raw strips.
QList<QByteArray> imageData(const QString &path)
{
    const QByteArray jpeg = readFile(path);
    if (path.endsWith(u".jpg"))
        return {jpeg.mid(jpeg.indexOf("\xFF\xDA"))};
    QList<QByteArray> strips;
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    for (tstrip_t s = 0; tif && s < TIFFNumberOfStrips(tif); ++s) {
        QByteArray data(qsizetype(TIFFRawStripSize(tif, s)), '\0');
        TIFFReadRawStrip(tif, s, data.data(), tmsize_t(data.size()));
        strips << data;
    }
    if (tif)
        TIFFClose(tif);
    return strips;
}

// A 32-bit BMP whose fourth byte is alpha (version 4 header with an alpha mask).
QByteArray bmpWithAlpha(int w, int h, quint32 bgra)
{
    return "BM" + le(14 + 108 + w * h * 4, 4) + le(0, 4) + le(14 + 108, 4) + le(108, 4) + le(w, 4) +
           le(h, 4) + le(1, 2) + le(32, 2) + le(3, 4) + le(w * h * 4, 4) + le(2835, 4) +
           le(2835, 4) + le(0, 8) + le(0xFF0000, 4) + le(0xFF00, 4) + le(0xFF, 4) +
           le(0xFF000000, 4) + le(0x73524742, 4) + QByteArray(48, '\0') +
           le(bgra, 4).repeated(w * h);
}

bool noStrayTemporaries(const QString &folder)
{
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    return std::none_of(names.begin(), names.end(), FileRewrite::isTemporaryName);
}

QUrl urlOf(const QString &path) { return QUrl::fromLocalFile(path); }

// Runs `work` in a child process (without root's right to write anywhere when running as
// root) and returns its exit status.
template <class Work> int inChildAsUser(Work work)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RewriteStep killAt = RewriteStep::tempCreated;
void killHere(RewriteStep step)
{
    if (step == killAt)
        ::raise(SIGKILL);
}

QString replacement, replaced; // another program renames one over the other mid-save
void replaceHere(RewriteStep step)
{
    if (step == RewriteStep::written)
        ::rename(QFile::encodeName(replacement), QFile::encodeName(replaced));
}

} // namespace

class TestRotationSave : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;

    QString jpeg(const QString &folder)
    {
        const QString path = folder + u"/p%1.jpg"_s.arg(++counter);
        return writeImage(path, quadrants(64, 48), "JPEG", 90) ? path : QString();
    }

private slots:
    // The orientation tag turns; the image data stays byte for byte.
    void tagTurnsAndImageDataStaysByteIdentical()
    {
        // Stored (as Exiv2 parses it: type by the tag), the turn, what each save writes.
        // Decoders show an out-of-range value unturned, so the turn starts from 1. A LONG,
        // which Qt's reader ignores, is written back as the standard SHORT.
        for (const auto &[stored, turns, written] : {std::tuple(QString(), 1, QList{6, 3, 8, 1}),
                                                     {u"2"_s, 1, QList{5}},
                                                     {u"2"_s, -1, QList{7}},
                                                     {u"9"_s, 1, QList{6}},
                                                     {u"0"_s, -1, QList{8}},
                                                     {u"long 3"_s, 1, QList{8}},
                                                     {u"tiff"_s, 1, QList{6}}}) {
            const QString path =
                stored == u"tiff" ? dir.filePath(u"strips.tif"_s) : jpeg(dir.path());
            if (stored == u"tiff")
                QVERIFY(writeTiff(path, {quadrants(64, 48)}));
            else if (stored.startsWith(u"long"))
                QVERIFY(setExifTags(
                    path, {}, {{"Exif.Image.Orientation", quint32(stored.back().digitValue())}}));
            else if (!stored.isEmpty())
                QVERIFY(setExifTags(path, {{"Exif.Image.Orientation", stored.toStdString()}}));
            const QList<QByteArray> data = imageData(path);
            QVERIFY(!data.isEmpty() && !data.front().isEmpty());
            for (int expected : written) {
                QVERIFY(saveRotation(urlOf(path), turns));
                QVERIFY2(orientationOf(path) == expected, qPrintable(stored));
                QCOMPARE(imageData(path), data);
            }
            // Decoding agrees with what was written.
            const auto decoded = decodeImage(urlOf(path));
            QVERIFY(decoded);
            QCOMPARE(cornerColours(*decoded->bitmap),
                     cornerColours(applyOrientation(quadrants(64, 48), written.back())));
        }
        QVERIFY(noStrayTemporaries(dir.path()));
    }

    // From every orientation a HEIF can store (mirrors included), one clockwise turn: libheif
    // shows the result turned, and only the meta box changed.
    void heifTurnsOnlyItsTransform()
    {
        const QString path = dir.filePath(u"turned.heic"_s);
        QVERIFY(writeHeif(path, quadrants(64, 48), 8, false, 32)); // with a thumbnail item
        const QByteArray written = readFile(path);
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const auto start = withHeifPrimaryTransform(written, heifTransformFor(orientation));
            QVERIFY(start && writeFile(path, *start));
            QCOMPARE(exifOrientation(*readHeifPrimaryTransform(*start)), orientation);
            QVERIFY(saveRotation(urlOf(path), 1));
            const QByteArray after = readFile(path);
            const int turned = int(rotatedOrientation(uint(orientation), 1));
            QCOMPARE(exifOrientation(*readHeifPrimaryTransform(after)), turned);
            const auto shown = decodeImage(urlOf(path)); // libheif applies irot and imir
            QVERIFY(shown);
            QCOMPARE(cornerColours(*shown->bitmap),
                     cornerColours(applyOrientation(quadrants(64, 48), turned)));
            const qsizetype metaBefore = boxEnd(*start, "meta"), metaAfter = boxEnd(after, "meta");
            QVERIFY(metaBefore > 0 && metaAfter > 0);
            QCOMPARE(after.left(boxEnd(after, "ftyp")), start->left(boxEnd(*start, "ftyp")));
            QCOMPARE(after.mid(metaAfter), start->mid(metaBefore));
        }
    }

    void pngKeepsDepthTextAndProfileAndDropsOrientation()
    {
        const QString path = dir.filePath(u"deep.png"_s);
        QImage deep = quadrants(40, 20, QImage::Format_RGBA64);
        deep.setText(u"Comment"_s, u"kept as it was"_s);
        deep.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        QVERIFY(deep.save(path, "PNG"));
        QVERIFY(setExifTags(path, {{"Exif.Image.Orientation", "6"},
                                   {"Exif.Image.Make", "Orva"},
                                   {"Exif.Photo.PixelXDimension", "40"}}));
        // Shown: the stored 40x20 turned by 6; one more turn stores it upside down.
        QVERIFY(saveRotation(urlOf(path), 1));
        QImageReader reader(path);
        reader.setAutoTransform(false);
        const QImage written = reader.read();
        QCOMPARE(written.format(), QImage::Format_RGBA64);
        QCOMPARE(written.size(), QSize(40, 20));
        QCOMPARE(cornerColours(written), u"WBRG"_s);
        QCOMPARE(written.text(u"Comment"_s), u"kept as it was"_s);
        QCOMPARE(written.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        const auto exif = readExifProperties(path);
        QVERIFY(exif && exif->tiff);
        QCOMPARE(exif->tiff->make, std::optional(u"Orva"_s));
        QCOMPARE(exif->orientation, std::nullopt);
        QCOMPARE(exif->pixelWidth, std::nullopt);
    }

    // Bitmaps Qt writes are encoded again; what it cannot write stays as it was: a BMP with
    // alpha, animations.
    void pixelTypesReencodeAndOthersStayDisplayOnly()
    {
        const QImage img = quadrants(24, 16);
        const auto in = [&](const QString &name) { return dir.filePath(name); };
        QVERIFY(img.save(in(u"a.bmp"_s)));
        QVERIFY(img.convertToFormat(QImage::Format_Indexed8).save(in(u"a.png"_s)));
        QVERIFY(writeFile(in(u"alpha.bmp"_s), bmpWithAlpha(24, 16, 0x800000FFu)));
        QVERIFY(writeGif(in(u"a.gif"_s), {img, img.mirrored()}, {10, 10}));
        QVERIFY(writeFile(in(u"anim.png"_s), pngFile(apngChunks({{img}, {img.mirrored()}}))));
        for (const auto &[name, saved] : {std::pair(u"a.bmp"_s, true),
                                          {u"a.png"_s, true},
                                          {u"alpha.bmp"_s, false},
                                          {u"a.gif"_s, false},
                                          {u"anim.png"_s, false}}) {
            const QByteArray before = readFile(in(name));
            const QImage beforeImage(in(name));
            QVERIFY2(saveRotation(urlOf(in(name)), 1) == saved, qPrintable(name));
            if (saved) {
                const QImage after(in(name));
                QCOMPARE(after.size(), QSize(16, 24));
                QCOMPARE(after.depth(), beforeImage.depth());
                QCOMPARE(cornerColours(after), u"BRGW"_s);
            } else {
                QCOMPARE(readFile(in(name)), before);
            }
        }
        QVERIFY(noStrayTemporaries(dir.path()));
    }

    void replacementKeepsTagsPermissionsAndLinks()
    {
        QTemporaryDir folder;
        const QString path = jpeg(folder.path());
        const QByteArray native = QFile::encodeName(path);
        QVERIFY(::setxattr(native, "user.xdg.tags", "red,blue", 8, 0) == 0);
        QVERIFY(::setxattr(native, "user.other", "x", 1, 0) == 0);
        QVERIFY(::chmod(native, 0640) == 0);
        struct stat before {};
        struct stat after {};
        ::stat(native, &before);
        // Through a symbolic link: the target is rewritten, the link stays a link.
        const QString link = folder.filePath(u"link.jpg"_s);
        QVERIFY(QFile::link(path, link));
        QVERIFY(saveRotation(urlOf(link), 1));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(orientationOf(path), 6);
        char tags[64] = {};
        QCOMPARE(::getxattr(native, "user.xdg.tags", tags, sizeof tags), 8);
        QCOMPARE(QByteArray(tags), QByteArray("red,blue"));
        QCOMPARE(::getxattr(native, "user.other", tags, sizeof tags), 1);
        ::stat(native, &after);
        QCOMPARE(after.st_mode & 07777, 0640u);
        QCOMPARE(after.st_uid, before.st_uid);
        QVERIFY(after.st_ino != before.st_ino); // replaced in one step, not written in place
        // A second name for the same file: replacing one name would split them.
        const QString hard = folder.filePath(u"hard.jpg"_s);
        QVERIFY(::link(native, QFile::encodeName(hard)) == 0);
        const QByteArray linked = readFile(path);
        QVERIFY(!saveRotation(urlOf(path), 1));
        QCOMPARE(readFile(hard), linked);
    }

    void unwritableFolderOrFileFallsBack()
    {
        // A folder read-only to others and a read-only file in a folder open to all; the
        // child saving is such an other user when the tests run as root.
        QTemporaryDir closed, open;
        const QString inClosed = jpeg(closed.path()), readOnly = jpeg(open.path());
        ::chmod(QFile::encodeName(inClosed), 0666);
        ::chmod(QFile::encodeName(readOnly), 0444);
        if (::geteuid() == 0) // owned by the child, who could keep the owner
            QVERIFY(::chown(QFile::encodeName(readOnly), 65534, 65534) == 0);
        ::chmod(QFile::encodeName(open.path()), 0777);
        ::chmod(QFile::encodeName(closed.path()), ::geteuid() == 0 ? 0755 : 0555);
        const QByteArray a = readFile(inClosed), b = readFile(readOnly);
        QCOMPARE(inChildAsUser([&] { return !saveRotation(urlOf(inClosed), 1); }), 0);
        QCOMPARE(inChildAsUser([&] { return !saveRotation(urlOf(readOnly), 1); }), 0);
        ::chmod(QFile::encodeName(closed.path()), 0755);
        QCOMPARE(readFile(inClosed), a);
        QCOMPARE(readFile(readOnly), b);
        QVERIFY(noStrayTemporaries(open.path()));
    }

    void killedSaveLeavesTheOldOrTheNewFile()
    {
        for (const RewriteStep step :
             {RewriteStep::tempCreated, RewriteStep::halfWritten, RewriteStep::written,
              RewriteStep::synced, RewriteStep::renamed}) {
            QTemporaryDir folder;
            const QString path = folder.filePath(u"k.png"_s);
            QVERIFY(quadrants(64, 32).save(path));
            const QByteArray original = readFile(path);
            const QByteArray finished = *rotatedFileContents(original, path, 1);
            const pid_t pid = ::fork();
            if (pid == 0) {
                killAt = step;
                setRewriteStepHook(killHere);
                saveRotation(urlOf(path), 1);
                ::_exit(0); // not reached: every step is passed on the way
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            QVERIFY2(readFile(path) == (step == RewriteStep::renamed ? finished : original),
                     qPrintable(QString::number(int(step))));
            QVERIFY(!QImage(path).isNull());
            // The next save into the folder clears what the killed one left behind.
            QVERIFY(saveRotation(urlOf(jpeg(folder.path())), 1));
            QVERIFY(noStrayTemporaries(folder.path()));
        }
    }

    void aFileReplacedDuringTheSaveIsKept()
    {
        replaced = jpeg(dir.path());
        replacement = dir.filePath(u"theirs.jpg"_s);
        QVERIFY(writeFile(replacement, "theirs"));
        setRewriteStepHook(replaceHere);
        const bool saved = saveRotation(urlOf(replaced), 1);
        setRewriteStepHook(nullptr);
        QVERIFY(!saved);
        QCOMPARE(readFile(replaced), QByteArray("theirs"));
        QVERIFY(noStrayTemporaries(dir.path()));
    }

    void onlyAbandonedTemporariesOfOursAreRemoved()
    {
        QTemporaryDir folder;
        const QString uuid = u"0b9e3c57-2f6d-4c1e-9a57-51f1c2d3e4f5.jpg"_s;
        const QString live = folder.filePath(u".orva-"_s + uuid);
        const QString foreign = folder.filePath(u"."_s + uuid);
        QVERIFY(writeFile(foreign, {}));
        QFile held(live);
        QVERIFY(held.open(QIODevice::WriteOnly));
        QVERIFY(::flock(held.handle(), LOCK_EX) == 0); // a save in progress elsewhere
        const QString path = jpeg(folder.path());
        QVERIFY(saveRotation(urlOf(path), 1));
        QVERIFY(QFile::exists(live) && QFile::exists(foreign));
        held.close();
        QVERIFY(saveRotation(urlOf(path), 1));
        QVERIFY(!QFile::exists(live) && QFile::exists(foreign));
    }

    void concurrentSavesOfOneFileAddUp()
    {
        const QString path = jpeg(dir.path());
        TaskRuntime tasks(4, 1);
        QList<Task<bool>> saves;
        for (int i = 0; i < 6; ++i)
            saves << tasks.run(TaskPriority::userInitiated, [&](const CancellationToken &) {
                return saveRotation(urlOf(path), 1);
            });
        for (const auto &t : saves)
            QCOMPARE(t.waitForResult(), std::optional(true));
        QCOMPARE(orientationOf(path), 3); // six quarter turns
    }

    // The viewer with the real image layer: a JPEG is turned in the file and reloaded, an
    // animated GIF only on screen.
    void viewerRotatesFilesOrTheScreen()
    {
        ImageIOService images; // outlives the task runtime of t
        TestServices t;
        ThumbnailCache thumbnails(images, t.tasks);
        const AppServices services{t.settings, t.scheduler, t.tasks,   images,
                                   t.screens,  t.watchers,  t.tags,    t.pointer,
                                   t.files,    t.desktop,   thumbnails};
        QTemporaryDir folder;
        const QString photo = folder.filePath(u"photo.jpg"_s), anim = folder.filePath(u"a.gif"_s);
        QVERIFY(writeImage(photo, quadrants(64, 32), "JPEG", 90));
        QVERIFY(writeGif(anim, {quadrants(24, 16), quadrants(24, 16).mirrored()}, {10, 10}));
        const QByteArray gifBytes = readFile(anim);
        AppState s(services);
        s.open(urlOf(photo));
        QTRY_VERIFY(s.currentImage());
        std::optional<QImage> thumbnail;
        auto askThumbnail = [&] {
            thumbnail.reset();
            thumbnails.thumbnailForURL(urlOf(photo), &thumbnails,
                                       [&](const std::optional<QImage> &r) { thumbnail = r; });
        };
        askThumbnail();
        QTRY_COMPARE(thumbnail.value_or(QImage()).size(), QSize(64, 32));
        s.rotate(+1);
        QTRY_COMPARE(s.currentImage()->image->pointSize, QSizeF(32, 64));
        askThumbnail(); // made again from the turned file
        QTRY_COMPARE(thumbnail.value_or(QImage()).size(), QSize(32, 64));
        QCOMPARE(orientationOf(photo), 6);
        QCOMPARE(s.rotationSteps(), 0);
        QCOMPARE(cornerColours(*s.currentImage()->bitmap), u"BRGW"_s);
        s.open(urlOf(anim));
        QTRY_COMPARE(s.animationFrameCount(), 2);
        s.rotate(-1);
        QTRY_COMPARE(s.rotationSteps(), 3);
        QTRY_COMPARE(s.currentImage()->image->pointSize, QSizeF(16, 24));
        QVERIFY(!s.currentImage()->image->isAnimated());
        QCOMPARE(s.animationFrameCount(), 0);
        QCOMPARE(readFile(anim), gifBytes);
        s.rotate(+1);
        QTRY_COMPARE(s.rotationSteps(), 0);
        QTRY_COMPARE(s.animationFrameCount(), 2);
    }
};

QTEST_MAIN(TestRotationSave)
#include "tst_rotationsave.moc"
