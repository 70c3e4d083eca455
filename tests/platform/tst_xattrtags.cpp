#include "platform/tags/XattrTagStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <sys/xattr.h>

using namespace orva;

class TestXattrTags : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    XattrTagStore store_;

    QUrl newFile(const QString &name)
    {
        QFile file(dir_->filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        return QUrl::fromLocalFile(file.fileName());
    }

private slots:
    // tmpfs may refuse user attributes; /var/tmp usually sits on a disk file system.
    void initTestCase()
    {
        for (const QString &base : {QStringLiteral("/var/tmp"), QDir::tempPath()}) {
            dir_ = std::make_unique<QTemporaryDir>(base + QStringLiteral("/orva-tags-XXXXXX"));
            if (!dir_->isValid())
                continue;
            const std::optional<QString> error =
                writeTags(newFile(QStringLiteral("probe")), {QStringLiteral("Red")});
            if (!error)
                return;
            QCOMPARE(*error, qt_error_string(ENOTSUP));
        }
        QSKIP("No writable temporary folder supports user extended attributes");
    }

    void namesAreTrimmedAndEmptyOnesDropped()
    {
        const QUrl url = newFile(QStringLiteral("a.jpg"));
        QVERIFY(
            !writeTags(url, {QStringLiteral(" Red "), QString(), QStringLiteral("  "),
                             QStringLiteral("Work in progress"), QStringLiteral("Überfällig")}));
        const QStringList expected{QStringLiteral("Red"), QStringLiteral("Work in progress"),
                                   QStringLiteral("Überfällig")};
        QCOMPARE(store_.readTags(url), expected);

        // As another program might have left it.
        const QByteArray raw = " Red,, ,Work in progress ,Überfällig,";
        const QByteArray path = QFile::encodeName(url.toLocalFile());
        QCOMPARE(::setxattr(path.constData(), "user.xdg.tags", raw.constData(),
                            static_cast<size_t>(raw.size()), 0),
                 0);
        QCOMPARE(store_.readTags(url), expected);
    }

    void writingNoTagsRemovesTheAttribute()
    {
        const QUrl url = newFile(QStringLiteral("b.jpg"));
        QVERIFY(!writeTags(url, {QStringLiteral("Blue")}));
        QVERIFY(!writeTags(url, {}));
        const QByteArray path = QFile::encodeName(url.toLocalFile());
        QCOMPARE(::getxattr(path.constData(), "user.xdg.tags", nullptr, 0), ssize_t(-1));
        QCOMPARE(errno, ENODATA);
        // Already absent is not an error either.
        QVERIFY(!writeTags(url, {QStringLiteral(" ")}));
    }
};

QTEST_GUILESS_MAIN(TestXattrTags)
#include "tst_xattrtags.moc"
