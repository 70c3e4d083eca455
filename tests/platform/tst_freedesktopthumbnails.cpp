// The desktop's shared thumbnail folder: names, text chunks, modes, staleness, failure
// entries, and entries that must not be trusted.
#include "platform/thumbnails/FreedesktopThumbnails.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

using namespace orva;

namespace {

QImage filled(QSize size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

int modeOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

void setMTime(const QString &path, qint64 seconds)
{
    const utimbuf times{seconds, seconds};
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}

struct Setup {
    QTemporaryDir home;
    QString root = home.filePath(QStringLiteral("cache/thumbnails"));
    FreedesktopThumbnails store{root};
    QString photo = home.filePath(QStringLiteral("photos/a b.jpg"));
    QUrl url = QUrl::fromLocalFile(photo);
    QDateTime modified;
    Setup()
    {
        QDir(home.path()).mkpath(QStringLiteral("photos"));
        QFile f(photo);
        if (f.open(QIODevice::WriteOnly))
            f.write("not really a jpeg");
        f.close();
        setMTime(photo, 1700000000);
        modified = QFileInfo(photo).lastModified();
    }
};

} // namespace

class TestFreedesktopThumbnails : public QObject {
    Q_OBJECT

private slots:
    void canonicalUri_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("uri");
        QTest::newRow("plain") << "/home/u/a.jpg" << QByteArray("file:///home/u/a.jpg");
        QTest::newRow("space and hash") << "/p/a b#1.jpg" << QByteArray("file:///p/a%20b%231.jpg");
        QTest::newRow("kept marks")
            << "/p/(x)!~*'$&+,:=@.png" << QByteArray("file:///p/(x)!~*'$&+,:=@.png");
        QTest::newRow("escaped") << "/p/a;b?[c]%.png"
                                 << QByteArray("file:///p/a%3Bb%3F%5Bc%5D%25.png");
        QTest::newRow("utf-8") << QString::fromUtf8("/p/é.jpg")
                               << QByteArray("file:///p/%C3%A9.jpg");
        QTest::newRow("cleaned") << "/p/./q/../a.jpg" << QByteArray("file:///p/a.jpg");
    }
    void canonicalUri()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, uri);
        QCOMPARE(FreedesktopThumbnails::canonicalUri(path), uri);
    }

    void roundTripAndStaleness()
    {
        Setup s;
        QVERIFY(!s.store.load(s.url));
        s.store.save(s.url, filled({400, 300}, Qt::red), s.modified);

        // Named by the MD5 of the URI, 128 pixels, with the URI and time it was made from.
        const QByteArray md5 = QCryptographicHash::hash(
            "file://" + QFile::encodeName(s.photo).replace(" ", "%20"), QCryptographicHash::Md5);
        const QString entry = s.root + QStringLiteral("/normal/") +
                              QString::fromLatin1(md5.toHex()) + QStringLiteral(".png");
        QCOMPARE(s.store.entryPath(s.photo, QStringLiteral("normal")), entry);
        QImage written(entry);
        QCOMPARE(written.size(), QSize(128, 96));
        QCOMPARE(written.text(QStringLiteral("Thumb::URI")),
                 QString::fromUtf8(FreedesktopThumbnails::canonicalUri(s.photo)));
        QCOMPARE(written.text(QStringLiteral("Thumb::MTime")), QStringLiteral("1700000000"));
        QCOMPARE(modeOf(entry), 0600);
        for (const QString &dir : {s.root, s.root + QStringLiteral("/normal")})
            QCOMPARE(modeOf(dir), 0700);
        QCOMPARE(QDir(s.root + QStringLiteral("/normal")).entryList(QDir::Files).size(), 1);

        const std::optional<QImage> back = s.store.load(s.url);
        QVERIFY(back);
        QCOMPARE(back->size(), QSize(128, 96));
        QCOMPARE(back->pixel(64, 48), qRgb(255, 0, 0));

        // The file changes: the entry no longer serves.
        setMTime(s.photo, 1700000100);
        QVERIFY(!s.store.load(s.url));

        // Removal takes the entry away.
        s.store.save(s.url, filled({64, 64}, Qt::blue), QFileInfo(s.photo).lastModified());
        QVERIFY(s.store.load(s.url));
        s.store.remove(s.url);
        QVERIFY(!QFile::exists(entry));
    }

    void failureEntries()
    {
        Setup s;
        s.store.saveFailure(s.url, s.modified);
        const QString fail = s.store.entryPath(s.photo, QStringLiteral("fail/orva"));
        QImage written(fail);
        QVERIFY(!written.isNull());
        QCOMPARE(written.text(QStringLiteral("Thumb::MTime")), QStringLiteral("1700000000"));
        QCOMPARE(modeOf(fail), 0600);
        QVERIFY(!s.store.load(s.url)); // a failure is not a thumbnail
        // A thumbnail made later replaces the failure.
        s.store.save(s.url, filled({50, 50}, Qt::green), s.modified);
        QVERIFY(!QFile::exists(fail));
        QVERIFY(s.store.load(s.url));
    }

    void untrustedEntriesAreIgnoredAndReplaced_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("uri");
        QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\nnot really") << QString();
        QTest::newRow("foreign uri") << QByteArray() << QStringLiteral("file:///elsewhere.jpg");
        QTest::newRow("huge header") << QByteArray("huge") << QString();
        QTest::newRow("no chunks") << QByteArray("plain") << QString();
    }
    void untrustedEntriesAreIgnoredAndReplaced()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, uri);
        Setup s;
        // Made by hand, as another program (or a broken one) might have left it.
        s.store.save(s.url, filled({10, 10}, Qt::red), s.modified);
        const QString entry = s.store.entryPath(s.photo, QStringLiteral("normal"));
        QFile::remove(entry);
        if (!uri.isEmpty() || contents == "huge" || contents == "plain") {
            QImage fake = filled(contents == "huge" ? QSize(4000, 10) : QSize(10, 10), Qt::red);
            if (!uri.isEmpty()) {
                fake.setText(QStringLiteral("Thumb::URI"), uri);
                fake.setText(QStringLiteral("Thumb::MTime"), QStringLiteral("1700000000"));
            }
            QVERIFY(fake.save(entry, "PNG"));
        } else {
            QFile f(entry);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(contents);
        }
        QVERIFY(!s.store.load(s.url));
        s.store.save(s.url, filled({20, 20}, Qt::blue), s.modified);
        QCOMPARE(s.store.load(s.url)->pixel(5, 5), qRgb(0, 0, 255));
    }

    void neverForFilesInsideTheThumbnailFolder()
    {
        Setup s;
        s.store.save(s.url, filled({10, 10}, Qt::red), s.modified);
        const QString entry = s.store.entryPath(s.photo, QStringLiteral("normal"));
        const QUrl inside = QUrl::fromLocalFile(entry);
        s.store.save(inside, filled({10, 10}, Qt::red), QFileInfo(entry).lastModified());
        s.store.saveFailure(inside, QFileInfo(entry).lastModified());
        QVERIFY(!s.store.load(inside));
        QCOMPARE(QDir(s.root + QStringLiteral("/normal")).entryList(QDir::Files).size(), 1);
        QVERIFY(!QDir(s.root + QStringLiteral("/fail")).exists());
    }

    void anUnwritableFolderMeansNoDiskTier()
    {
        Setup s;
        QDir(s.home.path()).mkpath(QStringLiteral("cache"));
        QFile::setPermissions(s.home.filePath(QStringLiteral("cache")),
                              QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(s.home.filePath(QStringLiteral("cache"))).isWritable())
            QSKIP("running with privileges that ignore folder modes");
        s.store.save(s.url, filled({10, 10}, Qt::red), s.modified);
        QVERIFY(!s.store.load(s.url));
        QFile::setPermissions(s.home.filePath(QStringLiteral("cache")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

QTEST_GUILESS_MAIN(TestFreedesktopThumbnails)
#include "tst_freedesktopthumbnails.moc"
