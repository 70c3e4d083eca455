#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace orva {

// The result of a file operation: where the file is now, or the system's error text.
struct FileOutcome {
    std::optional<QUrl> url;
    QString error;

    static FileOutcome success(const QUrl &u) { return {u, {}}; }
    static FileOutcome failure(const QString &text) { return {std::nullopt, text}; }
    explicit operator bool() const { return url.has_value(); }
};

// Changes to files made for the user. None of them ever replaces an existing file: a
// name that is taken is an error. A failed operation leaves everything as it was. Error
// texts are the system's own descriptions ("File exists", "Permission denied").
class FileOperations {
public:
    virtual ~FileOperations() = default;
    // Gives the file a new name in its folder; a symbolic link is renamed, not its target.
    virtual FileOutcome rename(const QUrl &file, const QString &newName) = 0;
    // Moves the file into `folder` under its own name, across file systems too.
    virtual FileOutcome moveToFolder(const QUrl &file, const QUrl &folder) = 0;
    // Copies the file into `folder` under its own name; a partial copy never appears
    // under that name.
    virtual FileOutcome copyToFolder(const QUrl &file, const QUrl &folder) = 0;
    // The file's volume is local and has (or can be given) a trash folder.
    virtual bool hasUsableTrash(const QUrl &file) const = 0;
    // Moves the file (a symbolic link itself, not its target) to the trash; the error
    // text on failure.
    virtual std::optional<QString> moveToTrash(const QUrl &file) = 0;
    // Deletes the file for good; the error text on failure.
    virtual std::optional<QString> remove(const QUrl &file) = 0;
};

} // namespace orva
