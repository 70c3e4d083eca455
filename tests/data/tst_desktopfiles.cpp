#include "imageio/ImageFormats.h"
#include "ui/AppIcon.h"

#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

using namespace orva;

namespace {

QString readText(const char *path)
{
    QFile file(QString::fromUtf8(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString desktopKey(const QString &entry, const QString &key)
{
    const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(key),
                                  QRegularExpression::MultilineOption);
    return line.match(entry).captured(1);
}

} // namespace

// What the build writes for the desktop: the file managers' "Open With" must offer Orva for
// exactly the files it opens, and the desktop's own validators must accept the files.
class TestDesktopFiles : public QObject {
    Q_OBJECT

private slots:
    void announcedTypesAreWhatTheImageLayerOpens()
    {
        const QString entry = readText(ORVA_DESKTOP_ENTRY);
        const QStringList announced =
            desktopKey(entry, QStringLiteral("MimeType")).split(u';', Qt::SkipEmptyParts);
        QCOMPARE(announced, supportedImageMimeTypes());

        QStringList mediatypes;
        const QRegularExpression mediatype(QStringLiteral("<mediatype>([^<]*)</mediatype>"));
        for (const auto &m : mediatype.globalMatch(readText(ORVA_METAINFO)))
            mediatypes << m.captured(1);
        QCOMPARE(mediatypes, announced);

        // Every extension Orva accepts is announced through its type, unless the name alone
        // says it is no image (".vst" is a Visio template as often as a TGA file).
        const QMimeDatabase db;
        for (const QString &ext : supportedImageExtensions()) {
            const QMimeType type =
                db.mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
            const bool image = type.name().startsWith(QLatin1String("image/"));
            QVERIFY2(!image || announced.contains(type.name()), qPrintable(ext));
        }
        for (const char *type :
             {"image/jpeg", "image/png", "image/gif", "image/tiff", "image/webp", "image/heif",
              "image/avif", "image/vnd.adobe.photoshop", "image/x-adobe-dng"})
            QVERIFY2(announced.contains(QLatin1String(type)), type);
        QVERIFY(!entry.contains(u'@'));
    }

    void validatorsAccept_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry") << QStringLiteral("desktop-file-validate")
                                       << QStringList{QString::fromUtf8(ORVA_DESKTOP_ENTRY)};
        QTest::newRow("AppStream metadata")
            << QStringLiteral("appstreamcli")
            << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"),
                           QString::fromUtf8(ORVA_METAINFO)};
    }
    void validatorsAccept()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(tool);
        if (program.isEmpty())
            QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(program, arguments);
        QVERIFY(run.waitForFinished(60000));
        const QString output = QString::fromUtf8(run.readAll());
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0,
                 qPrintable(output));
        // desktop-file-validate reports hints with a zero exit code.
        QVERIFY2(!output.contains(QLatin1String("error:")), qPrintable(output));
    }
};

QTEST_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
