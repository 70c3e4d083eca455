#pragma once

#include "core/state/AppState.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace orva::test {

// A real folder of (empty) image files; the fake image service never reads them.
struct TestFolder {
    QTemporaryDir dir;
    explicit TestFolder(const QStringList &files)
    {
        for (const QString &f : files)
            QFile(dir.filePath(f)).open(QIODevice::WriteOnly);
    }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(dir.filePath(name)); }
    QUrl folder() const { return QUrl::fromLocalFile(dir.path()); }
};

// Opens `name` and waits until its folder listing has been applied.
inline void openAndList(AppState &s, const TestFolder &f, const QString &name, int count)
{
    s.open(f.url(name));
    QTRY_COMPARE(s.imageFiles().size(), count);
}

} // namespace orva::test
