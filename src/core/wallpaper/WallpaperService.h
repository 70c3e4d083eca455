#pragma once

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

namespace orva {

class ImageService;
class TaskRuntime;
class WallpaperBackend;

// One private copy in the wallpaper folder.
struct WallpaperCopy {
    QString name;
    QDateTime modified; // invalid counts as infinitely old
};

// How many copies are always kept.
inline constexpr int keptWallpaperCopies = 10;

// The names to delete: every copy after the `keep` newest by modification time (the
// file systems here keep no settable creation date), except those named in `inUse`.
QStringList wallpaperCopiesToPrune(std::vector<WallpaperCopy> copies, const QSet<QString> &inUse,
                                   int keep = keptWallpaperCopies);

// "<source name without extension>-<first 8 hex digits of the id, upper case>.<extension>".
QString wallpaperCopyName(const QString &sourceFileName, const QString &extension,
                          const QString &uuidText);

// The private copy of `source` in `folder`, or the error text. A plain, byte-identical copy
// when the source's type is one of `nativeMimeTypes` and nothing is rotated; otherwise a
// JPEG (quality 92) of the full-resolution image turned by `rotationSteps` quarter turns,
// written through a temporary file so that a failure leaves nothing behind. Runs on any
// thread.
struct PreparedWallpaper {
    QString path;
    QString error; // empty on success
};
PreparedWallpaper prepareWallpaperCopy(const ImageService &images, const QUrl &source,
                                       int rotationSteps, const QString &folder,
                                       const QStringList &nativeMimeTypes);

// Deletes old copies from the folder except those whose paths are in `inUse`; failures are
// ignored.
void pruneWallpaperFolder(const QString &folder, const QStringList &inUse);

// Makes a private copy of an image the desktop picture and prunes older copies. The copy is
// made on a background task; the desktop is changed on the main thread.
class WallpaperService {
public:
    WallpaperService(const ImageService &images, TaskRuntime &tasks, WallpaperBackend &backend,
                     QString folder);

    // `done` runs on the main thread with the error text, or nothing on success; it is not
    // called when `context` is gone by then.
    void setDesktopPicture(const QUrl &url, int rotationSteps, QObject *context,
                           std::function<void(std::optional<QString>)> done);

    // AppDataLocation/Wallpapers.
    static QString defaultFolder();

private:
    const ImageService &images_;
    TaskRuntime &tasks_;
    WallpaperBackend &backend_;
    QString folder_;
};

} // namespace orva
