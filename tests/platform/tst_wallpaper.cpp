// The private wallpaper copies and the desktop backends. GSettings goes to a key file in a
// temporary folder and the session bus is unreachable, so the machine's desktop never changes.
#include "core/runtime/TaskRuntime.h"
#include "core/wallpaper/WallpaperService.h"
#include "imageio/ImageIOService.h"
#include "platform/wallpaper/DesktopWallpaper.h"
#include "support/ImageFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QTemporaryDir *home = nullptr;

const QStringList native{u"image/jpeg"_s, u"image/png"_s, u"image/tiff"_s};

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void touch(const QString &path, const QDateTime &time)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(time, QFileDevice::FileModificationTime));
}

std::unique_ptr<WallpaperBackend> gnome() { return wallpaperBackendForDesktop(u"ubuntu:GNOME"_s); }

} // namespace

class TestWallpaper : public QObject {
    Q_OBJECT

    ImageIOService images_;

private slots:
    void pruningKeepsTheNewestAndThoseInUse_data()
    {
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("undated");
        QTest::addColumn<QStringList>("inUse");
        QTest::addColumn<QStringList>("deleted");
        // c0 is the newest; c12 the oldest.
        QTest::newRow("13, oldest in use")
            << 13 << false << QStringList{u"c12"_s} << QStringList{u"c10"_s, u"c11"_s};
        QTest::newRow("13, none in use")
            << 13 << false << QStringList{} << QStringList{u"c10"_s, u"c11"_s, u"c12"_s};
        QTest::newRow("exactly 10") << 10 << false << QStringList{} << QStringList{};
        QTest::newRow("11, the newest in use")
            << 11 << false << QStringList{u"c0"_s} << QStringList{u"c10"_s};
        QTest::newRow("undated counts as oldest")
            << 10 << true << QStringList{} << QStringList{u"undated"_s};
    }
    void pruningKeepsTheNewestAndThoseInUse()
    {
        QFETCH(int, copies);
        QFETCH(bool, undated);
        QFETCH(QStringList, inUse);
        QFETCH(QStringList, deleted);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        std::vector<WallpaperCopy> list;
        if (undated)
            list.push_back({u"undated"_s, QDateTime()});
        // Listed in no particular order.
        for (int i : {1, 0})
            for (int c = copies - 1 - i; c >= 0; c -= 2)
                list.push_back({u"c%1"_s.arg(c), now.addSecs(-60 * c)});
        QStringList result =
            wallpaperCopiesToPrune(list, QSet<QString>(inUse.begin(), inUse.end()));
        result.sort();
        QCOMPARE(result, deleted);
    }

    void pruningTheFolder()
    {
        QTemporaryDir dir;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int i = 0; i <= 12; ++i)
            touch(dir.filePath(u"old%1.jpg"_s.arg(i, 2, 10, QLatin1Char('0'))), now.addDays(-i));
        // The oldest is still shown on a screen; the in-use path may be spelt differently.
        pruneWallpaperFolder(dir.path(), {dir.path() + u"/./old12.jpg"_s});
        const QStringList left = entries(dir.path());
        QCOMPARE(left.size(), 11);
        QVERIFY(left.contains(u"old12.jpg"_s) && left.contains(u"old00.jpg"_s));
        QVERIFY(!left.contains(u"old11.jpg"_s) && !left.contains(u"old10.jpg"_s));
    }

    void copyNames()
    {
        QCOMPARE(wallpaperCopyName(u"IMG_0042.jpeg"_s, u"jpeg"_s,
                                   u"3f2a91c0-1111-2222-3333-444455556666"_s),
                 u"IMG_0042-3F2A91C0.jpeg"_s);
        QCOMPARE(wallpaperCopyName(u"archive.tar.png"_s, u"jpg"_s, u"{abcdef01-0000}"_s),
                 u"archive.tar-ABCDEF01.jpg"_s);
        QCOMPARE(wallpaperCopyName(u"noext"_s, u"jpg"_s, u"00000000-1"_s), u"noext-00000000.jpg"_s);
    }

    // A type the desktop reads, not turned, is copied byte for byte; anything else becomes a
    // JPEG as shown. Every call makes a new copy, dated now; a failure leaves nothing.
    void copies_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format"); // a format name, else the file's bytes
        QTest::addColumn<int>("steps");
        QTest::addColumn<QSize>("size"); // of a converted copy; invalid: a byte copy; empty: fails
        QTest::newRow("plain jpeg") << u"IMG_0042.jpeg"_s << QByteArray("jpeg") << 0 << QSize();
        QTest::newRow("jpeg, a quarter turn")
            << u"turn.jpg"_s << QByteArray("jpeg") << 1 << QSize(20, 40);
        QTest::newRow("jpeg, half turn")
            << u"half.jpg"_s << QByteArray("jpeg") << 2 << QSize(40, 20);
        QTest::newRow("webp") << u"web.webp"_s << QByteArray("webp") << 0 << QSize(40, 20);
        QTest::newRow("png with alpha, turned")
            << u"alpha.png"_s << QByteArray("png") << 3 << QSize(20, 40);
        QTest::newRow("broken") << u"broken.webp"_s
                                << QByteArray("RIFF\x10\0\0\0WEBPVP8 garbage", 23) << 0
                                << QSize(0, 0);
        QTest::newRow("missing") << u"gone.jpg"_s << QByteArray() << 0 << QSize(0, 0);
    }
    void copies()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        QFETCH(int, steps);
        QFETCH(QSize, size);
        QTemporaryDir dir;
        const QString source = dir.filePath(name);
        QFile raw(source);
        if (format.size() > 4)
            QVERIFY(raw.open(QIODevice::WriteOnly) && raw.write(format) == format.size());
        else if (!format.isEmpty())
            QVERIFY(writeImage(source, quadrants(40, 20, QImage::Format_ARGB32), format.constData(),
                               90));
        raw.close();
        if (!format.isEmpty())
            touch(source, QDateTime(QDate(2001, 1, 1), QTime(0, 0)));
        const QString folder = dir.filePath(u"Wallpapers"_s);
        const QUrl url = QUrl::fromLocalFile(source);
        const PreparedWallpaper copy = prepareWallpaperCopy(images_, url, steps, folder, native);
        if (size == QSize(0, 0)) {
            QVERIFY(!copy.error.isEmpty() && copy.path.isEmpty());
            QCOMPARE(entries(folder), QStringList());
            return;
        }
        QVERIFY2(copy.error.isEmpty(), qPrintable(copy.error));
        QVERIFY(QFileInfo(copy.path).lastModified().secsTo(QDateTime::currentDateTime()) < 60);
        if (!size.isValid()) {
            QVERIFY(QRegularExpression(u"^IMG_0042-[0-9A-F]{8}\\.jpeg$"_s)
                        .match(QFileInfo(copy.path).fileName())
                        .hasMatch());
            QCOMPARE(contents(copy.path), contents(source));
        } else {
            QCOMPARE(QFileInfo(copy.path).suffix(), u"jpg"_s);
            QImageReader reader(copy.path);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            QCOMPARE(reader.size(), size);
        }
        QVERIFY(prepareWallpaperCopy(images_, url, steps, folder, native).path != copy.path);
        QCOMPARE(entries(folder).size(), 2);
    }

    void backendForEachDesktop_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("reason"); // a part of it; empty: usable
        QTest::newRow("GNOME") << u"GNOME"_s << QString();
        QTest::newRow("Cinnamon without its schema")
            << u"X-Cinnamon"_s << u"org.cinnamon.desktop.background"_s;
        QTest::newRow("MATE without its schema") << u"MATE"_s << u"org.mate.background"_s;
        QTest::newRow("KDE without a bus") << u"KDE"_s << u"no session bus"_s;
        QTest::newRow("XFCE without a bus") << u"XFCE"_s << u"no session bus"_s;
        QTest::newRow("unknown") << u"Enlightenment"_s << u"on this desktop (Enlightenment)"_s;
        QTest::newRow("not set") << QString() << u"XDG_CURRENT_DESKTOP is not set"_s;
    }

    void backendForEachDesktop()
    {
        QFETCH(QString, desktop);
        QFETCH(QString, reason);
        const auto backend = wallpaperBackendForDesktop(desktop);
        if (reason.isEmpty()) {
            QCOMPARE(backend->unavailableReason(), QString());
            return;
        }
        QVERIFY2(backend->unavailableReason().contains(reason),
                 qPrintable(backend->unavailableReason()));
        // Refused with the same reason; the process lives on.
        const std::optional<QString> error = backend->setPicture(home->filePath(u"x.jpg"_s));
        QVERIFY(error);
        QVERIFY(error->contains(reason));
        QCOMPARE(backend->picturesInUse(), QStringList());
    }

    void gnomeWritesBothKeysAndReadsThemBack()
    {
        const auto backend = gnome();
        const QString path = home->filePath(u"pictures/caf\u00e9 1.jpg"_s);
        QCOMPARE(backend->setPicture(path), std::nullopt);
        QCOMPARE(backend->picturesInUse(), (QStringList{path, path}));
        const QByteArray keyfile = contents(home->filePath(u"config/glib-2.0/settings/keyfile"_s));
        const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
        QVERIFY2(keyfile.contains("picture-uri='" + uri + "'"), keyfile.constData());
        QVERIFY(keyfile.contains("picture-uri-dark='" + uri + "'"));
    }

    void setDesktopPictureEndToEnd()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(u"beach.png"_s);
        QVERIFY(writeImage(source, quadrants(30, 10), "png"));
        const QString folder = dir.filePath(u"Wallpapers"_s);
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 11; ++i)
            touch(folder + u"/old%1.png"_s.arg(i), QDateTime::currentDateTimeUtc().addDays(-1 - i));
        const auto backend = gnome();
        TaskRuntime tasks;
        WallpaperService service(images_, tasks, *backend, folder);
        QObject context;
        std::optional<std::optional<QString>> outcome;
        service.setDesktopPicture(QUrl::fromLocalFile(source), 0, &context,
                                  [&outcome](std::optional<QString> error) { outcome = error; });
        QTRY_VERIFY(outcome.has_value());
        QCOMPARE(*outcome, std::nullopt);
        const QStringList shown = backend->picturesInUse();
        QCOMPARE(QFileInfo(shown.value(0)).absolutePath(), QDir(folder).absolutePath());
        QCOMPARE(contents(shown.value(0)), contents(source));
        // 12 copies: the two oldest go.
        QCOMPARE(entries(folder).size(), 10);
        QVERIFY(!entries(folder).contains(u"old10.png"_s));
        // A desktop without a backend: an error, and no copy is made.
        UnsupportedWallpaper none(u"No way."_s);
        WallpaperService refused(images_, tasks, none, folder);
        outcome.reset();
        refused.setDesktopPicture(QUrl::fromLocalFile(source), 0, &context,
                                  [&outcome](std::optional<QString> error) { outcome = error; });
        QCOMPARE(*outcome, std::optional<QString>(u"No way."_s));
        QCOMPARE(entries(folder).size(), 10);
    }
};

int main(int argc, char *argv[])
{
    // Before GLib reads anything: settings in a key file of the test's own, no session bus.
    QTemporaryDir folders;
    home = &folders;
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folders.filePath(u"config"_s)));
    qputenv("XDG_DATA_HOME", QFile::encodeName(folders.filePath(u"data"_s)));
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(folders.filePath(u"no-bus"_s)));
    QCoreApplication app(argc, argv);
    TestWallpaper test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wallpaper.moc"
