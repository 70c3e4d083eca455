// The desktop's shared thumbnail folder under the thumbnail cache: names, text chunks and
// modes other programs rely on, staleness, failure entries, and entries not to be trusted.
#include "core/thumbnails/ThumbnailCache.h"
#include "platform/thumbnails/FreedesktopThumbnails.h"
#include "support/TestServices.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::Literals::StringLiterals;

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
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void setMTime(const QString &path, qint64 seconds)
{
    const utimbuf times{seconds, seconds};
    ::utime(QFile::encodeName(path).constData(), &times);
}

// A photo in a home of its own, and the thumbnail folder of that home.
struct Setup {
    QTemporaryDir home;
    QString root = home.filePath(QStringLiteral("cache/thumbnails"));
    FreedesktopThumbnails store{root};
    FakeImageService images;
    QString photo = home.filePath(QStringLiteral("photos/a b.jpg"));
    QUrl url = QUrl::fromLocalFile(photo);
    QString entry;
    Setup()
    {
        QDir(home.path()).mkpath(QStringLiteral("photos"));
        QFile f(photo);
        if (f.open(QIODevice::WriteOnly))
            f.write("not really a jpeg");
        f.close();
        setMTime(photo, 1700000000);
        entry = store.entryPath(photo, u"normal"_s);
    }
    std::optional<QImage> thumbnail() { return makeCachedThumbnail(images, &store, url); }
};

} // namespace

class TestFreedesktopThumbnails : public QObject {
    Q_OBJECT

private slots:
    void canonicalUri_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("uri");
        QTest::newRow("space and hash") << "/p/a b#1.jpg" << QByteArray("file:///p/a%20b%231.jpg");
        QTest::newRow("kept marks")
            << "/p/(x)!~*'$&+,:=@.png" << QByteArray("file:///p/(x)!~*'$&+,:=@.png");
        QTest::newRow("escaped") << "/p/a;b?[c]%.png"
                                 << QByteArray("file:///p/a%3Bb%3F%5Bc%5D%25.png");
        QTest::newRow("utf-8, cleaned")
            << QString::fromUtf8("/p/./q/../é.jpg") << QByteArray("file:///p/%C3%A9.jpg");
    }
    void canonicalUri()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, uri);
        QCOMPARE(FreedesktopThumbnails::canonicalUri(path), uri);
    }

    void madeOnceThenReadBackUntilTheFileChanges()
    {
        Setup s;
        s.images.thumbnails.insert(u"a b.jpg"_s, filled({400, 300}, Qt::red));
        QCOMPARE(s.thumbnail()->size(), QSize(120, 90));
        QCOMPARE(s.images.thumbnailCalls.load(), 1);

        // Named by the MD5 of the URI, 128 pixels, with the URI and time it was made from,
        // private to the user.
        const QByteArray uri = "file://" + QFile::encodeName(s.photo).replace(" ", "%20");
        const QByteArray md5 = QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex();
        QCOMPARE(s.entry, s.root + u"/normal/"_s + QString::fromLatin1(md5) + u".png"_s);
        const QImage written(s.entry);
        QCOMPARE(written.size(), QSize(128, 96));
        QCOMPARE(written.text(u"Thumb::URI"_s).toUtf8(), uri);
        QCOMPARE(written.text(u"Thumb::MTime"_s), u"1700000000"_s);
        QCOMPARE(modeOf(s.entry), 0600);
        for (const QString &dir : {s.root, s.root + QStringLiteral("/normal")})
            QCOMPARE(modeOf(dir), 0700);

        // Served from the folder without a decode.
        QCOMPARE(s.thumbnail()->pixel(60, 45), qRgb(255, 0, 0));
        QCOMPARE(s.images.thumbnailCalls.load(), 1);

        // The file changes: the entry no longer serves, and is replaced.
        setMTime(s.photo, 1700000100);
        s.images.thumbnails.insert(u"a b.jpg"_s, filled({400, 300}, Qt::blue));
        QCOMPARE(s.thumbnail()->pixel(60, 45), qRgb(0, 0, 255));
        QCOMPARE(s.images.thumbnailCalls.load(), 2);
        QCOMPARE(QImage(s.entry).text(u"Thumb::MTime"_s), u"1700000100"_s);

        // No thumbnail can be made: a failure entry, which a later success removes.
        s.images.failing.insert(u"a b.jpg"_s);
        setMTime(s.photo, 1700000200);
        QVERIFY(!s.thumbnail());
        const QString fail = s.store.entryPath(s.photo, QStringLiteral("fail/orva"));
        QCOMPARE(QImage(fail).text(u"Thumb::MTime"_s), u"1700000200"_s);
        QCOMPARE(modeOf(fail), 0600);
        s.images.failing.clear();
        QVERIFY(s.thumbnail());
        QVERIFY(!QFile::exists(fail));

        // Invalidation takes the entry away.
        s.store.remove(s.url);
        QVERIFY(!QFile::exists(s.entry));
    }

    // Garbage, an entry naming another file, one too large: made anew, and replaced.
    void untrustedEntriesAreIgnoredAndReplaced_data()
    {
        QTest::addColumn<QSize>("size"); // invalid: not a PNG at all
        QTest::addColumn<QString>("uri");
        QTest::newRow("garbage") << QSize() << "";
        QTest::newRow("foreign uri") << QSize(10, 10) << "file:///elsewhere.jpg";
        QTest::newRow("too large") << QSize(4000, 10) << "";
    }
    void untrustedEntriesAreIgnoredAndReplaced()
    {
        QFETCH(QSize, size);
        QFETCH(QString, uri);
        Setup s;
        QDir().mkpath(s.root + u"/normal"_s);
        QImage fake = filled(size.isValid() ? size : QSize(1, 1), Qt::green);
        fake.setText(u"Thumb::URI"_s,
                     uri.isEmpty() ? QString::fromUtf8(FreedesktopThumbnails::canonicalUri(s.photo))
                                   : uri);
        fake.setText(u"Thumb::MTime"_s, u"1700000000"_s);
        QVERIFY(fake.save(s.entry, "PNG"));
        if (!size.isValid())
            QVERIFY(QFile::resize(s.entry, 20)); // a PNG cut short
        QVERIFY(!s.store.load(s.url));
        QCOMPARE(s.thumbnail()->pixel(5, 5), QColor(Qt::gray).rgb()); // made, not read
        QVERIFY(s.store.load(s.url));                                 // and replaced
    }

    void noDiskTierInsideTheThumbnailFolderOrWhereNothingCanBeWritten()
    {
        Setup s;
        QVERIFY(s.thumbnail());
        // The entry itself is an image file, but thumbnails of thumbnails would only multiply.
        const QUrl inside = QUrl::fromLocalFile(s.entry);
        QVERIFY(makeCachedThumbnail(s.images, &s.store, inside));
        s.images.failing.insert(QFileInfo(s.entry).fileName());
        QVERIFY(!makeCachedThumbnail(s.images, &s.store, inside));
        QCOMPARE(QDir(s.root + QStringLiteral("/normal")).entryList(QDir::Files).size(), 1);
        QVERIFY(!QDir(s.root + QStringLiteral("/fail")).exists());

        // A cache folder that cannot be made (a file is in its way, which no privilege gets
        // past): thumbnails are still made, just not kept.
        Setup blocked;
        QFile blocker(blocked.home.filePath(u"cache"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QVERIFY(blocked.thumbnail());
        QVERIFY(!blocked.store.load(blocked.url));
    }
};

QTEST_GUILESS_MAIN(TestFreedesktopThumbnails)
#include "tst_freedesktopthumbnails.moc"
