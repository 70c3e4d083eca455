#include "core/settings/Settings.h"
#include "platform/settings/QSettingsStore.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace orva;

class TestQSettingsStore : public QObject {
    Q_OBJECT

private slots:
    // INI files give every value back as text; the typed settings must survive that.
    void typedValuesSurviveARestart()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("Orva.conf"));
        {
            QSettingsStore store(path);
            Settings s(store);
            s.setDisplayMode(DisplayMode::autoSizeWindow);
            s.setShowThumbnailBar(true);
            s.setSortDescending(false);
            s.setMultiWindowMode(false);
            s.setSlideshowInterval(3);
            s.saveWindowSize(QSizeF(1024, 700.5));
            s.setLastTransferFolder(QStringLiteral("/media/photos, 2024"));
            store.sync();
        }
        QSettingsStore store(path);
        Settings s(store);
        QCOMPARE(s.storedDisplayMode(), std::optional(DisplayMode::autoSizeWindow));
        QCOMPARE(s.showThumbnailBar(), true);
        QCOMPARE(s.sortDescending(), false);
        QCOMPARE(s.isMultiWindowMode(), false);
        QCOMPARE(s.slideshowInterval(), 3.0);
        QCOMPARE(s.savedWindowSize(), std::optional(QSizeF(1024, 700.5)));
        QCOMPARE(s.lastTransferFolder(), std::optional(QStringLiteral("/media/photos, 2024")));
        QCOMPARE(store.value(QStringLiteral("neverWritten")), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestQSettingsStore)
#include "tst_qsettingsstore.moc"
