// The viewer's file operations on real folders: the list and the shown image follow at
// once, failures become the error alert, dialogs act on the file they were opened for.
#include "core/listing/FolderListing.h"
#include "core/state/AppState.h"
#include "core/view/ViewerContent.h"
#include "support/RealFileServices.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QStringList names(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &u : urls)
        out << u.fileName();
    return out;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const QStringList abc{QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")};

} // namespace

class TestFileActions : public QObject {
    Q_OBJECT

    QTemporaryDir dataHome_;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_.path())); }

    void renameUpdatesListAndTitleAtOnce()
    {
        RealFileServices t;
        TestFolder f(abc);
        AppState s(t.real);
        openAndList(s, f, QStringLiteral("b.jpg"), 3);
        s.beginRename();
        QVERIFY(s.showRenamePrompt());
        QCOMPARE(s.renameText(), QStringLiteral("b.jpg"));
        s.rename(QStringLiteral("  \n z.jpg \t"));
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("z.jpg"))));
        QCOMPARE(names(s.imageFiles()), (QStringList{u"a.jpg"_s, u"z.jpg"_s, u"c.jpg"_s}));
        QCOMPARE(s.windowTitle(), QStringLiteral("z.jpg [2/3]"));
        QVERIFY(s.loadTaskURLs().contains(f.url(QStringLiteral("z.jpg"))));
        QVERIFY(!QFile::exists(f.dir.filePath(QStringLiteral("b.jpg"))));
        QVERIFY(!s.errorMessage());
        // The rescan sorts it into place.
        QTRY_COMPARE(names(s.imageFiles()), (QStringList{u"a.jpg"_s, u"c.jpg"_s, u"z.jpg"_s}));
        QCOMPARE(s.currentIndex(), 2);
    }

    void renameRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error"); // empty: nothing happens at all
        QTest::newRow("empty") << QStringLiteral("  ") << QString();
        QTest::newRow("unchanged") << QStringLiteral(" b.jpg") << QString();
        QTest::newRow("hidden") << QStringLiteral(".hidden")
                                << u"\".hidden\" is not a valid file name."_s;
        QTest::newRow("slash") << QStringLiteral("x/y") << u"\"x/y\" is not a valid file name."_s;
        QTest::newRow("nul") << QStringLiteral("x") + QChar(0) + QStringLiteral("y.jpg")
                             << QStringLiteral("\"x") + QChar(0) +
                                    u"y.jpg\" is not a valid file name."_s;
        QTest::newRow("taken") << QStringLiteral("c.jpg") << qt_error_string(EEXIST);
        QTest::newRow("too long") << QString(300, QLatin1Char('n'))
                                  << qt_error_string(ENAMETOOLONG);
    }
    void renameRefusals()
    {
        QFETCH(QString, name);
        QFETCH(QString, error);
        RealFileServices t;
        TestFolder f(abc);
        QFile c(f.dir.filePath(QStringLiteral("c.jpg")));
        QVERIFY(c.open(QIODevice::WriteOnly));
        c.write("other");
        c.close();
        AppState s(t.real);
        openAndList(s, f, QStringLiteral("b.jpg"), 3);
        const QList<QUrl> before = s.imageFiles();
        s.rename(name);
        QCOMPARE(s.errorMessage().value_or(QString()), error);
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("b.jpg"))));
        QCOMPARE(s.imageFiles(), before);
        QVERIFY(QFile::exists(f.dir.filePath(QStringLiteral("b.jpg"))));
        QCOMPARE(contents(f.dir.filePath(QStringLiteral("c.jpg"))), QByteArray("other"));
    }

    void deleteShowsTheNextImage_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("deleted");
        QTest::addColumn<QString>("shown"); // empty: the window empties
        QTest::newRow("first") << abc << u"a.jpg"_s << u"b.jpg"_s;
        QTest::newRow("middle") << abc << u"b.jpg"_s << u"c.jpg"_s;
        QTest::newRow("last") << abc << u"c.jpg"_s << u"b.jpg"_s;
        QTest::newRow("only") << QStringList{u"a.jpg"_s} << u"a.jpg"_s << QString();
    }
    void deleteShowsTheNextImage()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, deleted);
        QFETCH(QString, shown);
        RealFileServices t;
        TestFolder f(files);
        AppState s(t.real);
        openAndList(s, f, deleted, int(files.size()));
        s.requestDelete();
        QVERIFY(s.showDeleteConfirmation());
        QVERIFY(!s.deleteIsPermanent()); // the home trash is on this volume
        s.performDelete();
        QVERIFY(!s.errorMessage());
        QVERIFY(!QFile::exists(f.dir.filePath(deleted)));
        QVERIFY(QFile::exists(dataHome_.path() + QStringLiteral("/Trash/info/") + deleted +
                              QStringLiteral(".trashinfo")));
        QFile::remove(dataHome_.path() + QStringLiteral("/Trash/info/") + deleted +
                      QStringLiteral(".trashinfo"));
        QFile::remove(dataHome_.path() + QStringLiteral("/Trash/files/") + deleted);
        QCOMPARE(s.imageFiles().size(), files.size() - 1);
        if (shown.isEmpty())
            QCOMPARE(s.currentURL(), std::nullopt);
        else
            QCOMPARE(s.currentURL(), std::optional(f.url(shown)));
    }

    // A dialog open while a slideshow steps on, or the folder changes, acts on its file.
    void dialogsActOnTheFileTheyWereOpenedFor()
    {
        RealFileServices t;
        TestFolder f(abc);
        AppState s(t.real);
        openAndList(s, f, QStringLiteral("a.jpg"), 3);
        s.navigate(+1);
        s.deleteFile(f.url(QStringLiteral("a.jpg")), true);
        QVERIFY(!QFile::exists(f.dir.filePath(QStringLiteral("a.jpg"))));
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("b.jpg"))));
        QCOMPARE(names(s.imageFiles()), (QStringList{u"b.jpg"_s, u"c.jpg"_s}));
        QCOMPARE(s.currentIndex(), 0);
        s.renameFile(f.url(QStringLiteral("c.jpg")), QStringLiteral("d.jpg"));
        QCOMPARE(s.currentURL(), std::optional(f.url(QStringLiteral("b.jpg"))));
        QCOMPARE(names(s.imageFiles()), (QStringList{u"b.jpg"_s, u"d.jpg"_s}));
    }

    void moveAndCopy_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("clash");
        QTest::newRow("move") << true << false;
        QTest::newRow("move onto a taken name") << true << true;
        QTest::newRow("copy") << false << false;
        QTest::newRow("copy onto a taken name") << false << true;
    }
    void moveAndCopy()
    {
        QFETCH(bool, move);
        QFETCH(bool, clash);
        RealFileServices t;
        TestFolder f(abc);
        QTemporaryDir target;
        if (clash) {
            QFile other(target.filePath(QStringLiteral("b.jpg")));
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write("theirs");
        }
        AppState s(t.real);
        openAndList(s, f, QStringLiteral("b.jpg"), 3);
        const QUrl folder = QUrl::fromLocalFile(target.path());
        move ? s.moveToFolder(folder) : s.copyToFolder(folder);
        // Remembered even when the operation fails.
        QCOMPARE(s.settings().lastTransferFolder(), std::optional(target.path()));
        QCOMPARE(s.errorMessage(), clash ? std::optional(qt_error_string(EEXIST)) : std::nullopt);
        QCOMPARE(QFile::exists(f.dir.filePath(QStringLiteral("b.jpg"))), !move || clash);
        if (clash)
            QCOMPARE(contents(target.filePath(QStringLiteral("b.jpg"))), QByteArray("theirs"));
        const bool gone = move && !clash;
        QCOMPARE(s.imageFiles().size(), gone ? 2 : 3);
        QCOMPARE(s.currentURL(), std::optional(f.url(gone ? u"c.jpg"_s : u"b.jpg"_s)));
    }

    void copyImageTakesFileAndRotationOfTheCommand()
    {
        RealFileServices t;
        TestFolder f(abc);
        t.images.failing.insert(QStringLiteral("c.jpg"));
        AppState s(t.services);
        openAndList(s, f, QStringLiteral("a.jpg"), 3);
        t.images.setGated(true);
        s.copyImage();
        s.navigate(+1); // before the decode finishes
        t.images.release(QStringLiteral("a.jpg"));
        t.images.release(QStringLiteral("b.jpg"));
        QTRY_COMPARE(t.desktop.clipboard.size(), 1);
        QCOMPARE(t.desktop.clipboard[0].text(QStringLiteral("file")), QStringLiteral("a.jpg"));
        QCOMPARE(t.desktop.clipboard[0].size(), QSize(40, 30));
        t.images.release(QStringLiteral("c.jpg"));
        s.navigate(+1);
        s.copyImage(); // cannot be decoded: nothing
        s.navigate(-1);
        s.copyImage();
        QTRY_COMPARE(t.desktop.clipboard.size(), 2);
        QCOMPARE(t.desktop.clipboard[1].text(QStringLiteral("file")), QStringLiteral("b.jpg"));
    }
};

QTEST_GUILESS_MAIN(TestFileActions)
#include "tst_fileactions.moc"
