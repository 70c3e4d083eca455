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

    // Digits take one width however narrow the font draws a 1.
    void digitsAreTabular_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("position") << u"1 / 11"_s << u"8 / 88"_s;
        QTest::newRow("zoom") << u"111%"_s << u"100%"_s;
        QTest::newRow("frame") << u"10 / 10"_s << u"47 / 47"_s;
    }
    void digitsAreTabular()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        // A font with proportional figures: "1" narrow, every other digit wide.
        const auto proportional = [](const QString &s) {
            qreal w = 0;
            for (QChar c : s)
                w += c == u'1' ? 3 : c.isDigit() ? 7 : c == u' ' ? 2 : 5;
            return w;
        };
        const QList<TabularPiece> pa = layOutTabular(a, proportional);
        const QList<TabularPiece> pb = layOutTabular(b, proportional);
        QCOMPARE(pa.size(), pb.size());
        for (qsizetype i = 0; i < pa.size(); ++i) {
            QCOMPARE(pa[i].x, pb[i].x);
            QCOMPARE(pa[i].width, pb[i].width);
        }
        QCOMPARE(tabularWidth(QFontMetricsF(QFont()), a), tabularWidth(QFontMetricsF(QFont()), b));

        // The pill keeps its size as the numbers change.
        StatusPill pill;
        viewer::StatusBarContent content;
        content.position = a;
        pill.setContent(content);
        const QSize before = pill.sizeHint();
        content.position = b;
        pill.setContent(content);
        QCOMPARE(pill.sizeHint(), before);
    }
};

QTEST_MAIN(TestFileText)
#include "tst_filetext.moc"
