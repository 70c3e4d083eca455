// What the viewer does to the file it shows: rename, delete, copy and move, open in
// another application, reveal, copy the picture. The folder list and the shown image
// follow at once, without waiting for the folder watch.
#include "core/listing/FolderListing.h"
#include "core/services/DesktopServices.h"
#include "core/services/FileOperations.h"
#include "core/services/ImageService.h"
#include "core/state/AppState.h"
#include "core/thumbnails/ThumbnailCache.h"

#include <QCollator>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QTransform>

#include <algorithm>

namespace orva {

OpenWithCache &OpenWithCache::shared()
{
    static OpenWithCache cache;
    return cache;
}

const QList<OpenWithApp> *OpenWithCache::find(const QString &key) const
{
    const auto it = apps_.constFind(key);
    return it == apps_.constEnd() ? nullptr : &*it;
}

QString fileTypeKey(const QUrl &file)
{
    const QString name = file.fileName();
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (type.isValid() && !type.isDefault())
        return type.name();
    return QFileInfo(name).suffix().toLower();
}

void AppState::invalidateThumbnail(const QUrl &url)
{
    // Every path that renames, removes or rewrites a file passes here.
    services_.thumbnails.invalidateThumbnail(url);
}

void AppState::beginRename()
{
    if (!currentURL_)
        return;
    setRenameText(currentURL_->fileName());
    setShowRenamePrompt(true);
}

void AppState::rename(const QString &name)
{
    if (currentURL_)
        renameFile(*currentURL_, name);
}

void AppState::renameFile(const QUrl &file, const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed == file.fileName())
        return;
    // A NUL would cut the name short in the system call; it is no more valid than "/".
    if (trimmed.contains(QLatin1Char('/')) || trimmed.startsWith(QLatin1Char('.')) ||
        trimmed.contains(QChar(0))) {
        setErrorMessage(QStringLiteral("\"") + trimmed +
                        QCoreApplication::translate("Orva", "\" is not a valid file name."));
        return;
    }
    const FileOutcome outcome = services_.files.rename(file, trimmed);
    if (!outcome) {
        setErrorMessage(outcome.error);
        return;
    }
    const QUrl renamed = *outcome.url;
    invalidateThumbnail(file);
    // The decode in flight is still good: the same file under its new name.
    if (const auto it = loadTasks_.find(file); it != loadTasks_.end()) {
        const LoadEntry entry = *it; // a rename keeps the identity the decode was for
        loadTasks_.erase(it);
        loadTasks_.insert(renamed, entry);
    }
    if (const qsizetype k = imageFiles_.indexOf(file); k >= 0) {
        QList<QUrl> files = imageFiles_;
        files[k] = renamed;
        setImageFiles(files);
    }
    if (currentURL_ == file)
        setCurrentURL(renamed);
    rescanCurrentFolder();
}

void AppState::requestDelete()
{
    if (!currentURL_)
        return;
    setDeleteIsPermanent(!services_.files.hasUsableTrash(*currentURL_));
    setShowDeleteConfirmation(true);
}

void AppState::performDelete()
{
    if (currentURL_)
        deleteFile(*currentURL_, deleteIsPermanent_);
}

void AppState::deleteFile(const QUrl &file, bool permanent)
{
    const std::optional<QString> error =
        permanent ? services_.files.remove(file) : services_.files.moveToTrash(file);
    if (error) {
        setErrorMessage(error);
        return;
    }
    dropFromList(file);
}

void AppState::copyToFolder(const QUrl &folder)
{
    if (currentURL_)
        copyFile(*currentURL_, folder);
}

void AppState::moveToFolder(const QUrl &folder)
{
    if (currentURL_)
        moveFile(*currentURL_, folder);
}

void AppState::copyFile(const QUrl &file, const QUrl &folder)
{
    // Remembered before the copy, so that a failed copy still starts the next choice there.
    settings().setLastTransferFolder(QString::fromLocal8Bit(localPath(folder)));
    const FileOutcome outcome = services_.files.copyToFolder(file, folder);
    if (!outcome)
        setErrorMessage(outcome.error);
    // A copy into the shown folder arrives through the folder watch.
}

void AppState::moveFile(const QUrl &file, const QUrl &folder)
{
    settings().setLastTransferFolder(QString::fromLocal8Bit(localPath(folder)));
    const FileOutcome outcome = services_.files.moveToFolder(file, folder);
    if (!outcome) {
        setErrorMessage(outcome.error);
        return;
    }
    dropFromList(file);
}

void AppState::dropFromList(const QUrl &file)
{
    invalidateThumbnail(file);
    if (currentURL_ == file) {
        removeFromList(file);
        return;
    }
    // The file was no longer shown (a dialog stayed open while the viewer moved on): the
    // shown image stays.
    if (const auto it = loadTasks_.find(file); it != loadTasks_.end()) {
        it->task.cancel();
        loadTasks_.erase(it);
    }
    QList<QUrl> files = imageFiles_;
    if (!files.removeOne(file))
        return;
    setImageFiles(files);
    if (currentURL_)
        setCurrentIndex(int(std::max<qsizetype>(0, files.indexOf(*currentURL_))));
    prefetchNeighbours();
}

QList<OpenWithApp> AppState::openWithApps() const
{
    if (!currentURL_)
        return {};
    const QString key = fileTypeKey(*currentURL_);
    OpenWithCache &cache = OpenWithCache::shared();
    if (const QList<OpenWithApp> *cached = cache.find(key))
        return *cached;
    const QString own = services_.desktop.ownApplicationIdentifier();
    QList<OpenWithApp> apps;
    for (const DesktopApplication &a : services_.desktop.applicationsForFile(*currentURL_))
        if (a.identifier != own)
            apps.append({a.name, a.url, a.icon});
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(),
                     [&collator](const OpenWithApp &a, const OpenWithApp &b) {
                         return collator.compare(a.name, b.name) < 0;
                     });
    cache.insert(key, apps);
    return apps;
}

void AppState::openWith(const QUrl &application)
{
    if (currentURL_)
        services_.desktop.openWith(*currentURL_, application);
}

void AppState::revealInFinder()
{
    if (currentURL_)
        services_.desktop.reveal(*currentURL_);
}

QImage rotatedQuarterTurns(const QImage &image, int steps)
{
    const int turns = ((steps % 4) + 4) % 4;
    if (turns == 0 || image.isNull())
        return image;
    return image.transformed(QTransform().rotate(90.0 * turns));
}

void AppState::copyImage()
{
    if (!currentURL_)
        return;
    // Taken now: a copy started before stepping on still copies what was shown.
    const QUrl url = *currentURL_;
    const int steps = rotationSteps_;
    const ImageService &images = services_.images;
    services_.tasks
        .run(TaskPriority::userInitiated,
             [url, steps, &images](const CancellationToken &) -> std::optional<QImage> {
                 const std::optional<DecodedImage> decoded = images.decodeImage(url, std::nullopt);
                 if (!decoded)
                     return std::nullopt;
                 QImage frame = decoded->bitmap ? *decoded->bitmap : QImage();
                 if (frame.isNull() && decoded->image && !decoded->image->frames.empty())
                     frame = decoded->image->frames.front().image;
                 if (frame.isNull())
                     return std::nullopt;
                 return rotatedQuarterTurns(frame, steps);
             })
        .then(this, [this](const std::optional<QImage> &image) {
            if (image)
                services_.desktop.copyImageToClipboard(*image);
        });
}

} // namespace orva
