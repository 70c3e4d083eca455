#include "core/settings/Settings.h"
#include "support/MemorySettingsStore.h"

#include <QtTest>

using namespace orva;
using orva::test::MemorySettingsStore;

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    // A store hands back whatever was written, possibly as text (INI) or by another
    // version of the program; only values of the right shape count.
    void multiWindowMode_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("missing key") << QVariant() << true;
        QTest::newRow("bool false") << QVariant(false) << false;
        QTest::newRow("ini false") << QVariant(QStringLiteral("false")) << false;
        QTest::newRow("ini YES, padded") << QVariant(QStringLiteral(" YES ")) << true;
        QTest::newRow("number 0") << QVariant(0) << false;
        QTest::newRow("garbage is written, so not default")
            << QVariant(QStringLiteral("banana")) << false;
    }
    void multiWindowMode()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, expected);
        MemorySettingsStore store;
        if (stored.isValid())
            store.values.insert(QStringLiteral("multiWindowMode"), stored);
        QCOMPARE(Settings(store).isMultiWindowMode(), expected);
    }

    void savedWindowSize_data()
    {
        QTest::addColumn<QVariant>("width");
        QTest::addColumn<QVariant>("height");
        QTest::addColumn<QSizeF>("expected"); // empty means no saved size
        QTest::newRow("99 x 800 is too narrow") << QVariant(99) << QVariant(800) << QSizeF();
        QTest::newRow("exactly 100 x 100") << QVariant(100) << QVariant(100) << QSizeF(100, 100);
        QTest::newRow("fractional") << QVariant(640.5) << QVariant(480.0) << QSizeF(640.5, 480);
        QTest::newRow("ini text") << QVariant(QStringLiteral("1024"))
                                  << QVariant(QStringLiteral("768")) << QSizeF(1024, 768);
        QTest::newRow("unreadable text")
            << QVariant(QStringLiteral("wide")) << QVariant(600) << QSizeF();
        QTest::newRow("infinite") << QVariant(qInf()) << QVariant(600) << QSizeF();
    }
    void savedWindowSize()
    {
        QFETCH(QVariant, width);
        QFETCH(QVariant, height);
        QFETCH(QSizeF, expected);
        MemorySettingsStore store;
        if (width.isValid())
            store.values.insert(QStringLiteral("lastWindowWidth"), width);
        if (height.isValid())
            store.values.insert(QStringLiteral("lastWindowHeight"), height);
        const auto size = Settings(store).savedWindowSize();
        if (expected.isEmpty())
            QCOMPARE(size, std::nullopt);
        else
            QCOMPARE(size, std::optional<QSizeF>(expected));
    }

    void slideshowInterval_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("expected");
        QTest::newRow("offered 2") << QVariant(2) << 2.0;
        QTest::newRow("offered 20 as text") << QVariant(QStringLiteral("20")) << 20.0;
        QTest::newRow("zero would spin") << QVariant(0) << 5.0;
        QTest::newRow("nan") << QVariant(qQNaN()) << 5.0;
        QTest::newRow("text") << QVariant(QStringLiteral("soon")) << 5.0;
    }
    void slideshowInterval()
    {
        QFETCH(QVariant, stored);
        QFETCH(double, expected);
        MemorySettingsStore store;
        store.values.insert(QStringLiteral("slideshowInterval"), stored);
        QCOMPARE(Settings(store).slideshowInterval(), expected);
    }

    void unknownCaseNamesKeepDefaultsAndStoredText()
    {
        MemorySettingsStore store;
        store.values.insert(QStringLiteral("sortOrder"), QStringLiteral("size"));
        store.values.insert(QStringLiteral("backgroundStyle"),
                            QStringLiteral("Black")); // case matters
        store.values.insert(QStringLiteral("displayMode"), 3);
        store.values.insert(QStringLiteral("showThumbnailBar"), QStringLiteral("sometimes"));
        Settings s(store);
        QCOMPARE(s.sortOrder(), SortOrder::name);
        QCOMPARE(s.backgroundStyle(), BackgroundStyle::black);
        QCOMPARE(s.storedDisplayMode(), std::nullopt);
        QCOMPARE(s.showThumbnailBar(), false);
        QCOMPARE(store.values.value(QStringLiteral("sortOrder")).toString(),
                 QStringLiteral("size"));
        QCOMPARE(store.writes, 0);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
