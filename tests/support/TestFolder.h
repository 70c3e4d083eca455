#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace orva::test {

// A real folder of (empty) image files; the fake image service never reads them.
struct TestFolder {
    QTemporaryDir dir;
    explicit TestFolder(const QStringList &files)
    {
        for (const QString &f : files) {
            QFile file(dir.filePath(f));
            file.open(QIODevice::WriteOnly);
        }
    }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(dir.filePath(name)); }
};

} // namespace orva::test
