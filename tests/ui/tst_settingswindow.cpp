// The settings window and the About window. Default applications go through GIO on desktop
// entries of the test's own: the machine's applications and mimeapps.list are never seen.
#include "core/settings/Settings.h"
#include "imageio/ImageFormats.h"
#include "platform/desktop/GioDesktopServices.h"
#include "support/MemorySettingsStore.h"
#include "support/TestServices.h"
#include "ui/AboutWindow.h"
#include "ui/SettingsWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

QTemporaryDir *desktop = nullptr;

void write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text);
}

void setUpDesktop()
{
    const QString apps = desktop->filePath(u"data/applications/"_s);
    write(apps + u"orva.desktop"_s, "[Desktop Entry]\nType=Application\nName=Orva\nExec=true %F\n"
                                    "MimeType=image/png;image/jpeg;\n");
    write(apps + u"painter.desktop"_s,
          "[Desktop Entry]\nType=Application\nName=Second Painter\nExec=true %f\n"
          "MimeType=image/png;\n");
    write(apps + u"mimeinfo.cache"_s,
          "[MIME Cache]\nimage/png=painter.desktop;orva.desktop;\nimage/jpeg=orva.desktop;\n");
    write(desktop->filePath(u"config/mimeapps.list"_s),
          "[Default Applications]\nimage/png=painter.desktop\n");
    QDir().mkpath(desktop->filePath(u"system"_s));
    QFile::link(u"/usr/share/mime"_s, desktop->filePath(u"system/mime"_s));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(desktop->filePath(u"system"_s)));
    qputenv("XDG_DATA_HOME", QFile::encodeName(desktop->filePath(u"data"_s)));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(desktop->filePath(u"config"_s)));
}

const ImageFormat &format(const QString &name)
{
    for (const ImageFormat &f : ImageFormat::all())
        if (f.name == name)
            return f;
    qFatal("no such format");
    return ImageFormat::all().front();
}

QString defaultAppText(SettingsWindow &w, const QString &formatName)
{
    QWidget *row = w.fileTypeRow(formatName);
    const auto *label = row ? row->findChild<QLabel *>(u"defaultApp"_s) : nullptr;
    return label ? label->text() : QString();
}

bool showsCheckMark(SettingsWindow &w, const QString &formatName)
{
    QWidget *row = w.fileTypeRow(formatName);
    return row && row->findChild<QLabel *>(u"orvaIsDefault"_s) &&
           !row->findChild<QPushButton *>(u"useOrva"_s);
}

} // namespace

class TestSettingsWindow : public QObject {
    Q_OBJECT

private slots:
    void controlsWriteTheSharedSettingsAndFollowThem()
    {
        MemorySettingsStore store;
        GioDesktopServices gio;
        SettingsWindow w(store, gio);
        w.multiWindowToggle()->click();
        QCOMPARE(w.multiWindowCaption()->text(), u"Opened images reuse the existing window."_s);
        QVERIFY(!Settings(store).isMultiWindowMode());

        w.backgroundPicker()->setCurrentIndex(4);
        emit w.backgroundPicker()->activated(4);
        QCOMPARE(Settings(store).backgroundStyle(), BackgroundStyle::checkerboard);
        emit w.intervalPicker()->activated(3);
        QCOMPARE(Settings(store).slideshowInterval(), 10.0);

        // Another window (or the Image menu) changes a setting: the controls follow.
        Settings(store).setBackgroundStyle(BackgroundStyle::white);
        Settings(store).setMultiWindowMode(true);
        Settings(store).setSlideshowInterval(2);
        QCOMPARE(w.backgroundPicker()->currentText(), u"White"_s);
        QVERIFY(w.multiWindowToggle()->isChecked());
        QCOMPARE(w.multiWindowCaption()->text(), u"Every opened image gets a separate window."_s);
        QCOMPARE(w.intervalPicker()->currentText(), u"2 s"_s);
        // An interval the picker does not offer selects nothing rather than a wrong one.
        Settings(store).setSlideshowInterval(7.5);
        QCOMPARE(w.intervalPicker()->currentIndex(), -1);
    }

    void useOrvaRoundTripThroughTheDesktop()
    {
        MemorySettingsStore store;
        GioDesktopServices gio;
        SettingsWindow w(store, gio);
        QCOMPARE(w.fileTypeRow(u"JPEG"_s)->objectName(), u"JPEG"_s);
        QCOMPARE(defaultAppText(w, u"PNG"_s), u"Second Painter"_s);
        QVERIFY(!showsCheckMark(w, u"PNG"_s));
        // Nothing on this desktop opens GIF files.
        QCOMPARE(defaultAppText(w, u"GIF"_s), u"No default app"_s);
        QVERIFY(w.fileTypeRow(u"GIF"_s)->findChild<QPushButton *>(u"useOrva"_s));

        w.fileTypeRow(u"PNG"_s)->findChild<QPushButton *>(u"useOrva"_s)->click();
        QCOMPARE(w.revision(), 1);
        QVERIFY(!w.errorMessage());
        QTRY_VERIFY(showsCheckMark(w, u"PNG"_s));
        QCOMPARE(defaultAppText(w, u"PNG"_s), u"Orva"_s);
        QCOMPARE(gio.defaultApplicationForType(u"image/png"_s)->identifier, u"orva.desktop"_s);
        QFile list(desktop->filePath(u"config/mimeapps.list"_s));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QVERIFY(list.readAll().contains("image/png=orva.desktop"));
        // A fresh window asks the desktop again.
        SettingsWindow again(store, gio);
        QVERIFY(showsCheckMark(again, u"PNG"_s));
    }

    void refusedChangeShowsTheErrorAlertAndRebuilds()
    {
        MemorySettingsStore store;
        FakeDesktop refusing; // keeps no default applications
        SettingsWindow w(store, refusing);
        QCOMPARE(defaultAppText(w, u"PNG"_s), u"No default app"_s);
        w.makeDefault(format(u"PNG"_s));
        QCOMPARE(w.revision(), 1);
        QVERIFY(w.errorMessage());
        QMessageBox *alert = w.findChild<QMessageBox *>();
        QVERIFY(alert);
        QCOMPARE(alert->windowTitle(), u"Error"_s);
        QCOMPARE(alert->text(), *w.errorMessage());
        alert->button(QMessageBox::Ok)->click();
        QVERIFY(!w.errorMessage());
    }
};

int main(int argc, char *argv[])
{
    // Before GIO reads anything.
    QTemporaryDir folders;
    desktop = &folders;
    setUpDesktop();
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(u"orva"_s);
    TestSettingsWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingswindow.moc"
