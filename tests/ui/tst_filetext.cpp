// Text that comes from files reaches the screen exactly as stored, and the numbers of the
// status bar keep their places while they change.
#include "support/TestFolder.h"
#include "support/TestServices.h"
#include "ui/ImageViewer.h"
#include "ui/MetadataPanel.h"
#include "ui/StatusPill.h"
#include "ui/TabularDigits.h"
#include "ui/ViewerWindow.h"

#include <QLabel>
#include <QMessageBox>
#include <QWindow>
#include <QtTest>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

const QString markup = u"<b>BIG</b><font color=red size=7>RED</font><img src=\"/etc/x.png\">"_s;

} // namespace

class TestFileText : public QObject {
    Q_OBJECT

private slots:
    void metadataValuesShowAsStored()
    {
        MetadataPanel panel;
        panel.setEntries({{u"Model"_s, markup}, {u"Camera"_s, u"A & B <Co>"_s}});
        panel.show();
        QLabel *value = nullptr;
        for (QLabel *label : panel.findChildren<QLabel *>()) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            if (label->text() == markup)
                value = label;
        }
        QVERIFY(value);
    }

    void alertAndTitleShowFileNamesAsStored()
    {
        TestServices t;
        TestFolder f({u"a[*]b.jpg"_s, u"<u>z.jpg"_s});
        ViewerWindow window(t.services);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.state().open(f.url(u"a[*]b.jpg"_s));
        QTRY_COMPARE(window.state().imageFiles().size(), 2);
        // "[*]" is Qt's placeholder for the modified mark; the title must keep it.
        QCOMPARE(window.windowHandle()->title(), u"a[*]b.jpg [2/2]"_s);

        window.state().setErrorMessage(u"Cannot move “<b>x</b>.jpg”"_s);
        QMessageBox *alert = window.viewer().errorAlert();
        QVERIFY(alert);
        QCOMPARE(alert->textFormat(), Qt::PlainText);
        QCOMPARE(alert->text(), u"Cannot move “<b>x</b>.jpg”"_s);
        alert->close();

        window.state().open(f.url(u"<u>z.jpg"_s));
        window.state().requestDelete();
        auto *confirm = window.findChild<QMessageBox *>(u"deleteConfirmation"_s);
        QVERIFY(confirm);
        QCOMPARE(confirm->textFormat(), Qt::PlainText);
        QVERIFY(confirm->text().contains(u"\"<u>z.jpg\""_s));
    }
};

QTEST_MAIN(TestFileText)
#include "tst_filetext.moc"
