#include "core/wallpaper/WallpaperService.h"

#include "core/listing/FolderListing.h"
#include "core/runtime/TaskRuntime.h"
#include "core/services/ImageService.h"
#include "core/services/WallpaperBackend.h"
#include "core/state/AppState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <memory>

namespace orva {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("WallpaperService", text); }

// The one message for every way a converted copy can fail: nothing more specific helps.
QString writeFailure() { return tr("The picture for the desktop could not be written."); }

bool isNativeType(const QString &fileName, const QStringList &nativeMimeTypes)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return false;
    return std::any_of(nativeMimeTypes.begin(), nativeMimeTypes.end(),
                       [&type](const QString &native) { return type.inherits(native); });
}

QImage firstFrame(const DecodedImage &decoded)
{
    if (decoded.bitmap)
        return *decoded.bitmap;
    if (decoded.image && !decoded.image->frames.empty())
        return decoded.image->frames.front().image;
    return {};
}

} // namespace

QStringList wallpaperCopiesToPrune(std::vector<WallpaperCopy> copies, const QSet<QString> &inUse,
                                   int keep)
{
    std::stable_sort(copies.begin(), copies.end(), [](const auto &a, const auto &b) {
        if (a.modified.isValid() != b.modified.isValid())
            return a.modified.isValid();
        return a.modified > b.modified;
    });
    QStringList doomed;
    for (size_t i = size_t(std::max(keep, 0)); i < copies.size(); ++i)
        if (!inUse.contains(copies[i].name))
            doomed << copies[i].name;
    return doomed;
}

QString wallpaperCopyName(const QString &sourceFileName, const QString &extension,
                          const QString &uuidText)
{
    QString id = uuidText;
    id.remove(QLatin1Char('{')).remove(QLatin1Char('-'));
    const QFileInfo info(sourceFileName);
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return base + QLatin1Char('-') + id.left(8).toUpper() +
           (extension.isEmpty() ? QString() : QLatin1Char('.') + extension);
}

PreparedWallpaper prepareWallpaperCopy(const ImageService &images, const QUrl &source,
                                       int rotationSteps, const QString &folder,
                                       const QStringList &nativeMimeTypes)
{
    if (!QDir().mkpath(folder))
        return {{}, tr("The folder %1 could not be created.").arg(folder)};
    const QString sourcePath = source.toLocalFile();
    const QFileInfo info(sourcePath);
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const bool convert = rotationSteps % 4 != 0 || !isNativeType(info.fileName(), nativeMimeTypes);
    if (!convert) {
        const QString target =
            folder + QLatin1Char('/') + wallpaperCopyName(info.fileName(), info.suffix(), uuid);
        // QFile::copy writes through a temporary file and never replaces an existing one.
        QFile in(sourcePath);
        if (!in.copy(target))
            return {{}, in.errorString()};
        QFile out(target);
        if (!out.open(QIODevice::ReadWrite) ||
            !out.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime)) {
            const QString error = out.errorString();
            out.close();
            QFile::remove(target);
            return {{}, error};
        }
        return {target, {}};
    }
    const std::optional<DecodedImage> decoded = images.decodeImage(source, std::nullopt);
    QImage frame = decoded ? firstFrame(*decoded) : QImage();
    if (frame.isNull())
        return {{}, writeFailure()};
    frame = rotatedQuarterTurns(frame, rotationSteps);
    if (frame.hasAlphaChannel())
        frame = frame.convertToFormat(QImage::Format_RGB32);
    const QString target =
        folder + QLatin1Char('/') + wallpaperCopyName(info.fileName(), QStringLiteral("jpg"), uuid);
    if (QFileInfo::exists(target))
        return {{}, writeFailure()};
    // QSaveFile writes a temporary file next to the target and renames it only on commit.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return {{}, writeFailure()};
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(92);
    if (!writer.write(frame) || !file.commit()) {
        file.cancelWriting();
        return {{}, writeFailure()};
    }
    return {target, {}};
}

void pruneWallpaperFolder(const QString &folder, const QStringList &inUse)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    std::vector<WallpaperCopy> copies;
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
        copies.push_back({entry.fileName(), entry.lastModified()});
    QSet<QString> used;
    for (const QString &path : inUse) {
        const QFileInfo info(path);
        if (QDir(info.absolutePath()).canonicalPath() == dir.canonicalPath())
            used.insert(info.fileName());
    }
    for (const QString &name : wallpaperCopiesToPrune(std::move(copies), used))
        QFile::remove(dir.filePath(name));
}

WallpaperService::WallpaperService(const ImageService &images, TaskRuntime &tasks,
                                   WallpaperBackend &backend, QString folder)
    : images_(images), tasks_(tasks), backend_(backend), folder_(std::move(folder))
{
}

QString WallpaperService::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/Wallpapers");
}

void WallpaperService::setDesktopPicture(const QUrl &url, int rotationSteps, QObject *context,
                                         std::function<void(std::optional<QString>)> done)
{
    const QString reason = backend_.unavailableReason();
    if (!reason.isEmpty()) {
        done(reason);
        return;
    }
    const ImageService &images = images_;
    const QString folder = folder_;
    const QStringList native = backend_.nativeMimeTypes();
    WallpaperBackend &backend = backend_;
    tasks_
        .run(TaskPriority::userInitiated,
             [&images, url, rotationSteps, folder, native](const CancellationToken &) {
                 return prepareWallpaperCopy(images, url, rotationSteps, folder, native);
             })
        .then(context, [&backend, folder,
                        done = std::move(done)](const std::optional<PreparedWallpaper> &prepared) {
            if (!prepared) {
                done(writeFailure());
                return;
            }
            if (!prepared->error.isEmpty()) {
                done(prepared->error);
                return;
            }
            if (std::optional<QString> error = backend.setPicture(prepared->path)) {
                done(error);
                return;
            }
            pruneWallpaperFolder(folder, backend.picturesInUse() << prepared->path);
            done(std::nullopt);
        });
}

} // namespace orva
