// The file operations as a person reaches them in a window: keys, menus and dialogs.
#include "support/RealFileServices.h"
#include "support/TestFolder.h"
#include "support/TestServices.h"
#include "ui/ImageViewer.h"
#include "ui/ViewerCommands.h"
#include "ui/ViewerWindow.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

struct Shown {
    explicit Shown(const AppServices &services) : window(new ViewerWindow(services))
    {
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    AppState &state() { return window->state(); }
    std::unique_ptr<ViewerWindow> window;
};

QPushButton *button(QWidget *dialog, const QString &text)
{
    for (QPushButton *b : dialog->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

void pressDelete(QWidget &target, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &event);
}

} // namespace

class TestFileActionDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir dataHome_;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome_.path())); }

    void renamePromptSelectsTheNameAndRenames()
    {
        RealFileServices t;
        TestFolder f({u"a.jpg"_s, u"b.jpg"_s});
        Shown w(t.real);
        openAndList(w.state(), f, u"b.jpg"_s, 2);
        QVERIFY(w.window->commands().rename()->shortcuts().contains(QKeySequence(Qt::Key_F2)));
        w.window->commands().rename()->trigger();
        auto *prompt = w.window->findChild<QDialog *>(u"renamePrompt"_s);
        QVERIFY(prompt);
        QTRY_VERIFY(prompt->isVisible());
        auto *field = prompt->findChild<QLineEdit *>();
        QCOMPARE(field->text(), u"b.jpg"_s);
        QCOMPARE(field->selectedText(), u"b"_s);
        field->setText(u"holiday.jpg"_s);
        emit field->textEdited(field->text());
        button(prompt, u"Rename"_s)->click();
        QCOMPARE(w.window->windowTitle(), u"holiday.jpg [2/2]"_s);
        QVERIFY(QFile::exists(f.dir.filePath(u"holiday.jpg"_s)));
    }

    void deleteKeysAskThenTrash_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("confirm");
        QTest::newRow("Delete, cancelled") << int(Qt::Key_Delete) << false;
        QTest::newRow("Delete") << int(Qt::Key_Delete) << true;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << true;
    }
    void deleteKeysAskThenTrash()
    {
        QFETCH(int, key);
        QFETCH(bool, confirm);
        RealFileServices t;
        TestFolder f({u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s});
        Shown w(t.real);
        openAndList(w.state(), f, u"b.jpg"_s, 3);
        pressDelete(w.window->viewer(), Qt::Key(key));
        auto *box = w.window->findChild<QMessageBox *>(u"deleteConfirmation"_s);
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), u"Delete Image"_s);
        QCOMPARE(box->text(), u"Move \"b.jpg\" to the Trash?"_s);
        button(box, confirm ? u"Delete"_s : u"Cancel"_s)->click();
        QVERIFY(!w.state().showDeleteConfirmation());
        QCOMPARE(QFile::exists(f.dir.filePath(u"b.jpg"_s)), !confirm);
        QCOMPARE(w.state().currentURL(), std::optional(f.url(confirm ? u"c.jpg"_s : u"b.jpg"_s)));
        QDir(dataHome_.path() + u"/Trash"_s).removeRecursively();
    }

    void volumeWithoutTrashIsWarnedAbout()
    {
        TestServices t; // its file operations know no trash and refuse every change
        TestFolder f({u"a.jpg"_s});
        Shown w(t.services);
        openAndList(w.state(), f, u"a.jpg"_s, 1);
        w.window->commands().deleteImage()->trigger();
        auto *box = w.window->findChild<QMessageBox *>(u"deleteConfirmation"_s);
        QVERIFY(box);
        QCOMPARE(box->text(),
                 u"\"a.jpg\" will be deleted permanently. This volume has no Trash."_s);
        button(box, u"Delete"_s)->click();
        QTRY_VERIFY(w.window->viewer().errorAlert());
        QCOMPARE(w.window->viewer().errorAlert()->text(), u"Operation not permitted"_s);
        QCOMPARE(w.state().currentURL(), std::optional(f.url(u"a.jpg"_s)));
    }
};

QTEST_MAIN(TestFileActionDialogs)
#include "tst_fileactiondialogs.moc"
