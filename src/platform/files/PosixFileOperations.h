#pragma once

#include "core/services/FileOperations.h"

#include <QByteArray>

namespace orva {

// File operations on Linux that never replace an existing file: renameat2 with
// RENAME_NOREPLACE (or a hard link and an unlink where the file system lacks it); moves
// between file systems copy to a hidden temporary file in the destination, flush it, put
// it in place and only then remove the source. Names are bytes: they need not be UTF-8.
class PosixFileOperations final : public FileOperations {
public:
    FileOutcome rename(const QUrl &file, const QString &newName) override;
    FileOutcome moveToFolder(const QUrl &file, const QUrl &folder) override;
    FileOutcome copyToFolder(const QUrl &file, const QUrl &folder) override;
    bool hasUsableTrash(const QUrl &file) const override;
    std::optional<QString> moveToTrash(const QUrl &file) override;
    std::optional<QString> remove(const QUrl &file) override;
};

// Moves `from` to `to` on one file system unless `to` exists; 0 or an errno value.
int renameWithoutReplacing(const QByteArray &from, const QByteArray &to);

// A copy of the file at `from` (a symbolic link is copied as a link when `keepLinks`)
// placed at `to` without replacing anything; permissions, modification time and user
// attributes (the colour tags) are kept. Nothing is left behind on failure. 0 or errno.
int copyWithoutReplacing(const QByteArray &from, const QByteArray &to, bool keepLinks);

// Whether a file-system type, as /proc/self/mountinfo names it, is a network or remote one.
bool isNetworkFileSystemType(const QByteArray &type);

} // namespace orva
