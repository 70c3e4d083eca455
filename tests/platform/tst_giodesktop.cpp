// Open With and reveal through GIO, on desktop entries of the test's own: the machine's
// applications are never seen.
#include "core/listing/FolderListing.h"
#include "core/state/AppState.h"
#include "platform/desktop/GioDesktopServices.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QTemporaryDir *desktop = nullptr; // the test's XDG folders

QString marker() { return desktop->filePath(u"launched"_s); }

void write(const QString &path, const QByteArray &text, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFile::ExeOwner);
}

QByteArray entry(const char *name, const char *types, const char *field)
{
    return QByteArray("[Desktop Entry]\nType=Application\nName=") + name +
           "\nExec=" + QFile::encodeName(desktop->filePath(u"record.sh"_s)) + ' ' + field +
           "\nMimeType=" + types + "\n";
}

void setUpDesktop()
{
    const QString apps = desktop->filePath(u"system/applications/"_s);
    write(desktop->filePath(u"record.sh"_s),
          "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + QFile::encodeName(marker()) + "'\n", true);
    write(apps + u"zeta.desktop"_s, entry("zeta Viewer", "image/png;", "%f"));
    write(apps + u"alpha.desktop"_s, entry("Alpha Paint", "image/png;image/jpeg;", "%f"));
    write(apps + u"orva.desktop"_s, entry("Orva", "image/png;image/jpeg;", "%F"));
    write(apps + u"editor.desktop"_s, entry("Editor", "text/plain;", "%f"));
    write(apps + u"files.desktop"_s, entry("Files", "inode/directory;", "%u"));
    write(apps + u"bitmaps.desktop"_s, entry("Bitmaps", "image/x-ms-bmp;", "%f"));
    write(apps + u"mimeinfo.cache"_s, "[MIME Cache]\n"
                                      "image/png=zeta.desktop;alpha.desktop;orva.desktop;\n"
                                      "image/jpeg=alpha.desktop;orva.desktop;\n"
                                      "text/plain=editor.desktop;\n"
                                      "image/x-ms-bmp=bitmaps.desktop;\n"
                                      "inode/directory=files.desktop;\n");
    write(desktop->filePath(u"config/mimeapps.list"_s),
          "[Default Applications]\ninode/directory=files.desktop\n");
    // The MIME database itself is the machine's.
    QFile::link(u"/usr/share/mime"_s, desktop->filePath(u"system/mime"_s));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(desktop->filePath(u"system"_s)));
    qputenv("XDG_DATA_HOME", QFile::encodeName(desktop->filePath(u"home"_s)));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(desktop->filePath(u"config"_s)));
    // No session bus: reveal falls back to opening the folder.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(desktop->filePath(u"no-bus"_s)));
}

QByteArray launched()
{
    QFile f(marker());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestGioDesktop : public QObject {
    Q_OBJECT

    GioDesktopServices gio_;

private slots:
    void init() { QFile::remove(marker()); }

    void applicationsForTheFileType()
    {
        TestFolder f({u"a.png"_s, u"b.jpg"_s, u"c.txt"_s, u"d.bmp"_s});
        QStringList ids;
        for (const DesktopApplication &a : gio_.applicationsForFile(f.url(u"a.png"_s))) {
            ids << a.identifier;
            QCOMPARE(a.url, QUrl::fromLocalFile(
                                desktop->filePath(u"system/applications/"_s + a.identifier)));
        }
        ids.sort();
        QCOMPARE(ids, (QStringList{u"alpha.desktop"_s, u"orva.desktop"_s, u"zeta.desktop"_s}));
        QCOMPARE(gio_.applicationsForFile(f.url(u"b.jpg"_s)).size(), 2);
        QCOMPARE(gio_.applicationsForFile(f.url(u"c.txt"_s)).value(0).name, u"Editor"_s);
        // Listed under an alias of the file's type.
        QCOMPARE(gio_.applicationsForFile(f.url(u"d.bmp"_s)).value(0).name, u"Bitmaps"_s);
    }

    void openWithMenuLeavesOrvaOut()
    {
        QGuiApplication::setDesktopFileName(u"orva"_s);
        QCOMPARE(gio_.ownApplicationIdentifier(), u"orva.desktop"_s);
        ServicesWith<FakeImageService, FakeWatcherFactory, RefusingFileOperations,
                     GioDesktopServices>
            t;
        TestFolder f({u"a.png"_s});
        AppState s(t.services);
        s.open(f.url(u"a.png"_s));
        QStringList names;
        for (const OpenWithApp &a : s.openWithApps())
            names << a.name;
        QCOMPARE(names, (QStringList{u"Alpha Paint"_s, u"zeta Viewer"_s}));
    }

    void openWithHandsTheFileOver()
    {
        QTemporaryDir dir;
        // A name that is not UTF-8 reaches the application as the same bytes.
        const QByteArray path = QFile::encodeName(dir.path()) + "/caf\xe9.png";
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        gio_.openWith(fileUrlFromLocalPath(path), QUrl::fromLocalFile(desktop->filePath(
                                                      u"system/applications/zeta.desktop"_s)));
        QTRY_COMPARE(launched(), path + '\n');
        ::unlink(path.constData());
    }

    void revealWithoutFileManagerOpensTheFolder()
    {
        TestFolder f({u"a.png"_s});
        gio_.reveal(f.url(u"a.png"_s));
        QTRY_COMPARE(launched(), localPath(f.folder()) + '\n');
    }
};

int main(int argc, char *argv[])
{
    // Before GIO reads anything.
    QTemporaryDir folders;
    desktop = &folders;
    setUpDesktop();
    QGuiApplication app(argc, argv);
    TestGioDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_giodesktop.moc"
