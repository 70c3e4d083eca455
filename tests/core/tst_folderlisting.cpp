#include "core/listing/FolderListing.h"
#include "core/settings/Settings.h"
#include "support/TestServices.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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

    void unreadableFolderIsAbsent()
    {
        QCOMPARE(listImageFiles(QUrl::fromLocalFile(path(QStringLiteral("missing"))), std::nullopt,
                                SortOrder::name, false, images),
                 std::nullopt);
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

    void undatedFilesGatherAtTheStart()
    {
        QList<QUrl> urls{QUrl::fromLocalFile(path(QStringLiteral("gone2.jpg"))),
                         QUrl::fromLocalFile(path(QStringLiteral("gone1.jpg")))};
        touch(path(QStringLiteral("here.jpg")), QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
        urls << QUrl::fromLocalFile(path(QStringLiteral("here.jpg")));
        QCOMPARE(names(sortImageFiles(urls, SortOrder::dateModified, false, images)),
                 (QStringList{QStringLiteral("gone1.jpg"), QStringLiteral("gone2.jpg"),
                              QStringLiteral("here.jpg")}));
        QCOMPARE(names(sortImageFiles(urls, SortOrder::dateModified, true, images)).last(),
                 QStringLiteral("gone1.jpg"));
    }

    void sortOrderSetting()
    {
        MemorySettingsStore store;
        QCOMPARE(currentSortOrder(Settings(store)), SortOrder::name);
        store.values.insert(QStringLiteral("sortOrder"), QStringLiteral("dateModified"));
        QCOMPARE(currentSortOrder(Settings(store)), SortOrder::dateModified);
        store.values.insert(QStringLiteral("sortOrder"), QStringLiteral("size"));
        QCOMPARE(currentSortOrder(Settings(store)), SortOrder::name);
    }
};

QTEST_GUILESS_MAIN(TestFolderListing)
#include "tst_folderlisting.moc"
