#include "core/listing/FolderListing.h"
#include "core/settings/Settings.h"
#include "support/TestServices.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;

namespace {

void touch(const QString &path, const QDateTime &modified = {})
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.flush(); // a buffered write at close would move the time again
    if (modified.isValid())
        QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

QStringList names(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &u : urls)
        out << u.fileName();
    return out;
}

bool createFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

// Permissions mean nothing to root, which CI may be: run the check as "nobody" then, in a
// child process (this test starts no threads, so forking is safe).
bool withoutPrivileges(const std::function<bool()> &check)
{
    if (::geteuid() != 0)
        return check();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped && check() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

} // namespace

class TestFolderListing : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    FakeImageService images;
    QUrl folder() const { return QUrl::fromLocalFile(dir.path()); }
    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        QDir d(dir.path());
        for (const QString &e : d.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            QFileInfo(d.filePath(e)).isDir() ? void(QDir(d.filePath(e)).removeRecursively())
                                             : void(d.remove(e));
    }

    void filterKeepsVisibleRegularImages()
    {
        touch(path(QStringLiteral("a.jpg")));
        touch(path(QStringLiteral("B.png")));
        touch(path(QStringLiteral("c.txt")));
        touch(path(QStringLiteral(".hidden.jpg")));
        touch(path(QStringLiteral("X.JPG")));
        touch(path(QStringLiteral("y.Jpeg")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("d.jpg")));
        const auto list = listImageFiles(folder(), std::nullopt, SortOrder::name, false, images);
        QVERIFY(list);
        QCOMPARE(names(*list), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("B.png"),
                                            QStringLiteral("X.JPG"), QStringLiteral("y.Jpeg")}));
        // The hidden file the user opened joins, at its name position.
        const auto withHidden =
            listImageFiles(folder(), QUrl::fromLocalFile(path(QStringLiteral(".hidden.jpg"))),
                           SortOrder::name, false, images);
        QCOMPARE(names(*withHidden).first(), QStringLiteral(".hidden.jpg"));
        QCOMPARE(withHidden->size(), 5);
        // A vanished file is not added back.
        const auto withGone =
            listImageFiles(folder(), QUrl::fromLocalFile(path(QStringLiteral("gone.jpg"))),
                           SortOrder::name, false, images);
        QCOMPARE(withGone->size(), 4);
    }

    // A folder that may be entered but not read (mode 711): the opened file is the list.
    void unlistableFolderKeepsTheOpenedFile()
    {
        QTemporaryDir outer;
        const QString inner = outer.filePath(QStringLiteral("album"));
        QVERIFY(QDir().mkdir(inner));
        touch(inner + QStringLiteral("/a.jpg"));
        touch(inner + QStringLiteral("/b.jpg"));
        QVERIFY(::chmod(QFile::encodeName(outer.path()).constData(), 0711) == 0);
        QVERIFY(::chmod(QFile::encodeName(inner).constData(), 0711) == 0);
        const QUrl album = QUrl::fromLocalFile(inner);
        const QUrl a = QUrl::fromLocalFile(inner + QStringLiteral("/a.jpg"));
        const QUrl gone = QUrl::fromLocalFile(inner + QStringLiteral("/gone.jpg"));
        QVERIFY(withoutPrivileges([&] {
            return listImageFiles(album, a, SortOrder::name, false, images) == QList<QUrl>{a} &&
                   listImageFiles(album, gone, SortOrder::name, false, images) == std::nullopt &&
                   listImageFiles(album, std::nullopt, SortOrder::dateModified, false, images) ==
                       std::nullopt;
        }));
        QVERIFY(::chmod(QFile::encodeName(inner).constData(), 0755) == 0);
    }

    // Names are bytes: one that is not UTF-8 is listed, found again from its URL, and
    // keeps its place next to its neighbours; links to images count as images.
    void namesAndLinks()
    {
        QTemporaryDir local;
        const QUrl here = QUrl::fromLocalFile(local.path());
        const QByteArray base = QFile::encodeName(local.path()) + '/';
        // QTemporaryDir cannot see the odd name to remove it.
        const auto removeOdd = qScopeGuard([&] { ::unlink((base + "caf\xe9.jpg").constData()); });
        QVERIFY(createFile(base + "caf\xe9.jpg"));
        QVERIFY(createFile(base + "a.jpg"));
        QVERIFY(createFile(base + "100% #1?.jpg"));
        QVERIFY(::symlink("a.jpg", (base + "link.jpg").constData()) == 0);
        QVERIFY(::symlink("missing.jpg", (base + "dangling.jpg").constData()) == 0);
        QVERIFY(QDir().mkdir(local.filePath(QStringLiteral("sub"))));
        QVERIFY(::symlink("sub", (base + "dir.jpg").constData()) == 0);
        for (const SortOrder order : {SortOrder::name, SortOrder::dateModified}) {
            const auto list = listImageFiles(here, std::nullopt, order, false, images);
            QVERIFY(list);
            QStringList bytes;
            for (const QUrl &u : *list) {
                QVERIFY(u.isLocalFile());
                QVERIFY(fileIdentity(u)); // every entry is reachable through its URL
                bytes << QString::fromLatin1(localPath(u).mid(base.size()));
            }
            bytes.sort();
            QCOMPARE(bytes,
                     (QStringList{QStringLiteral("100% #1?.jpg"), QStringLiteral("a.jpg"),
                                  QString::fromLatin1("caf\xe9.jpg"), QStringLiteral("link.jpg")}));
        }
        const QUrl odd = fileUrlFromLocalPath(base + "caf\xe9.jpg");
        QCOMPARE(localPath(standardizedFileUrl(odd)), base + "caf\xe9.jpg");
        QCOMPARE(folderOf(odd), here);
        // Opening the odd file keeps it once, whatever form its URL came in.
        QCOMPARE(
            listImageFiles(here, QUrl::fromEncoded(odd.toEncoded()), SortOrder::name, false, images)
                ->count(odd),
            1);
    }

    // The order a file browser shows, also under the C locale that CI runs with.
    void naturalNameOrder_data()
    {
        QTest::addColumn<bool>("cLocale");
        QTest::newRow("system locale") << false;
        QTest::newRow("C locale") << true;
    }
    void naturalNameOrder()
    {
        QFETCH(bool, cLocale);
        const QLocale previous;
        if (cLocale)
            QLocale::setDefault(QLocale::c());
        const QStringList files{QStringLiteral("img100.jpg"), QStringLiteral("img9.jpg"),
                                QStringLiteral("IMG10.jpg"), QStringLiteral("b.jpg"),
                                QStringLiteral("A.jpg")};
        QList<QUrl> urls;
        for (const QString &f : files)
            urls << QUrl::fromLocalFile(path(f));
        const QStringList expected{QStringLiteral("A.jpg"), QStringLiteral("b.jpg"),
                                   QStringLiteral("img9.jpg"), QStringLiteral("IMG10.jpg"),
                                   QStringLiteral("img100.jpg")};
        QCOMPARE(names(sortImageFiles(urls, SortOrder::name, false, images)), expected);
        QStringList reversed = expected;
        std::reverse(reversed.begin(), reversed.end());
        QCOMPARE(names(sortImageFiles(urls, SortOrder::name, true, images)), reversed);
        QLocale::setDefault(previous);
    }

    // Capture date first, modification date when there is none; equal dates by name; the
    // descending list is the ascending one reversed whole.
    void dateOrders()
    {
        const QDateTime base(QDate(2024, 6, 1), QTime(12, 0));
        touch(path(QStringLiteral("b.jpg")), base.addDays(5));  // taken day 1
        touch(path(QStringLiteral("a.jpg")), base.addDays(5));  // taken day 1 too: tie
        touch(path(QStringLiteral("c.jpg")), base.addDays(-3)); // no Exif: modified day -3
        touch(path(QStringLiteral("d.jpg")), base.addDays(9));  // taken day 2
        images.dateTimeOriginal.insert(QStringLiteral("a.jpg"),
                                       QStringLiteral("2024:06:02 12:00:00"));
        images.dateTimeOriginal.insert(QStringLiteral("b.jpg"),
                                       QStringLiteral("2024:06:02 12:00:00"));
        images.dateTimeOriginal.insert(QStringLiteral("d.jpg"),
                                       QStringLiteral("2024:06:03 12:00:00"));
        auto taken = listImageFiles(folder(), std::nullopt, SortOrder::dateTaken, false, images);
        QCOMPARE(names(*taken), (QStringList{QStringLiteral("c.jpg"), QStringLiteral("a.jpg"),
                                             QStringLiteral("b.jpg"), QStringLiteral("d.jpg")}));
        taken = listImageFiles(folder(), std::nullopt, SortOrder::dateTaken, true, images);
        QCOMPARE(names(*taken), (QStringList{QStringLiteral("d.jpg"), QStringLiteral("b.jpg"),
                                             QStringLiteral("a.jpg"), QStringLiteral("c.jpg")}));
        const auto modified =
            listImageFiles(folder(), std::nullopt, SortOrder::dateModified, false, images);
        QCOMPARE(names(*modified), (QStringList{QStringLiteral("c.jpg"), QStringLiteral("a.jpg"),
                                                QStringLiteral("b.jpg"), QStringLiteral("d.jpg")}));
        images.dateTimeOriginal.clear();
    }
};

QTEST_GUILESS_MAIN(TestFolderListing)
#include "tst_folderlisting.moc"
