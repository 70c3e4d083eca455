#include "platform/thumbnails/FreedesktopThumbnails.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace orva {

namespace {

// Entries are at most this many pixels a side ("large"); anything bigger is not ours to
// trust, whatever its header says.
constexpr int largestEntry = 256;
const QString failFolder = QStringLiteral("fail/orva");

QString defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/thumbnails");
}

// Creates each missing folder from `base` down to `base/sub`, private to the user.
bool makePrivatePath(const QString &base, const QString &sub)
{
    QDir().mkpath(QFileInfo(base).path()); // the cache folder itself keeps its usual mode
    QString path = base;
    const QStringList parts =
        (QStringLiteral(".") + QLatin1Char('/') + sub).split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part != QLatin1String("."))
            path += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(path);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

QString mtimeText(const QDateTime &modified)
{
    return QString::number(modified.toSecsSinceEpoch());
}

} // namespace

FreedesktopThumbnails::FreedesktopThumbnails(QString root)
    : root_(QDir::cleanPath(root.isEmpty() ? defaultRoot() : root))
{
}

QByteArray FreedesktopThumbnails::canonicalUri(const QString &localPath)
{
    // Escaped as the desktop's own libraries do, so that every program finds the same name.
    static const QByteArray kept = QByteArrayLiteral("-_.!~*'()/$&+,:=@");
    const QByteArray bytes =
        QFile::encodeName(QDir::cleanPath(QFileInfo(localPath).absoluteFilePath()));
    QByteArray uri = QByteArrayLiteral("file://");
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            kept.contains(char(c))) {
            uri += char(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

QString FreedesktopThumbnails::entryPath(const QString &localPath, const QString &folder) const
{
    const QByteArray md5 =
        QCryptographicHash::hash(canonicalUri(localPath), QCryptographicHash::Md5).toHex();
    return root_ + QLatin1Char('/') + folder + QLatin1Char('/') + QString::fromLatin1(md5) +
           QStringLiteral(".png");
}

// Thumbnails of the thumbnails would only multiply.
bool FreedesktopThumbnails::covers(const QString &localPath) const
{
    if (localPath.isEmpty())
        return false;
    const QString path = QDir::cleanPath(QFileInfo(localPath).absoluteFilePath());
    const QString canonical = QFileInfo(localPath).canonicalFilePath();
    const QString rootCanonical = QFileInfo(root_).canonicalFilePath();
    auto inside = [](const QString &p, const QString &r) {
        return !r.isEmpty() && (p == r || p.startsWith(r + QLatin1Char('/')));
    };
    return !inside(path, root_) && !inside(canonical, rootCanonical) && !inside(canonical, root_);
}

std::optional<QImage> FreedesktopThumbnails::load(const QUrl &file) const
{
    const QString local = file.toLocalFile();
    if (!file.isLocalFile() || !covers(local))
        return std::nullopt;
    const QFileInfo info(local);
    if (!info.isFile())
        return std::nullopt;
    const QByteArray uri = canonicalUri(local);
    const QString mtime = mtimeText(info.lastModified());
    for (const QString &folder : {QStringLiteral("normal"), QStringLiteral("large")}) {
        QImageReader reader(entryPath(local, folder), "png");
        reader.setAutoTransform(false);
        const QSize size = reader.size();
        if (!size.isValid() || size.isEmpty() || size.width() > largestEntry ||
            size.height() > largestEntry)
            continue;
        QImage image;
        if (!reader.read(&image) || image.isNull() || image.size() != size)
            continue;
        if (image.text(QStringLiteral("Thumb::URI")).toUtf8() != uri ||
            image.text(QStringLiteral("Thumb::MTime")) != mtime)
            continue; // stale, foreign or corrupt: made again, and replaced
        return image;
    }
    return std::nullopt;
}

void FreedesktopThumbnails::write(const QString &localPath, const QString &folder, QImage image,
                                  const QDateTime &modified) const
{
    if (!makePrivatePath(root_, folder))
        return;
    image.setText(QStringLiteral("Thumb::URI"), QString::fromUtf8(canonicalUri(localPath)));
    image.setText(QStringLiteral("Thumb::MTime"), mtimeText(modified));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(QFileInfo(localPath).size()));
    image.setText(QStringLiteral("Software"), QStringLiteral("Orva"));
    const QString target = entryPath(localPath, folder);
    // Written beside the entry and renamed over it: a reader sees the old entry or the
    // new one, never half of one. QTemporaryFile creates it readable by the user only.
    QTemporaryFile temp(target + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return;
    QImageWriter writer(&temp, "png");
    if (!writer.write(image) || !temp.flush()) {
        return;
    }
    ::fsync(temp.handle());
    const QByteArray from = QFile::encodeName(temp.fileName());
    const QByteArray to = QFile::encodeName(target);
    if (::rename(from.constData(), to.constData()) == 0)
        temp.setAutoRemove(false);
}

void FreedesktopThumbnails::save(const QUrl &file, const QImage &thumbnail,
                                 const QDateTime &modified) const
{
    const QString local = file.toLocalFile();
    if (!file.isLocalFile() || !covers(local) || thumbnail.isNull() || !modified.isValid())
        return;
    QImage image = thumbnail;
    if (image.width() > pixelSize() || image.height() > pixelSize())
        image =
            image.scaled(pixelSize(), pixelSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    write(local, QStringLiteral("normal"), image, modified);
    QFile::remove(entryPath(local, failFolder));
}

void FreedesktopThumbnails::saveFailure(const QUrl &file, const QDateTime &modified) const
{
    const QString local = file.toLocalFile();
    if (!file.isLocalFile() || !covers(local) || !modified.isValid() || !QFileInfo(local).isFile())
        return;
    QImage empty(1, 1, QImage::Format_ARGB32);
    empty.fill(Qt::transparent);
    write(local, failFolder, empty, modified);
}

void FreedesktopThumbnails::remove(const QUrl &file) const
{
    const QString local = file.toLocalFile();
    if (!file.isLocalFile() || !covers(local))
        return;
    for (const QString &folder : {QStringLiteral("normal"), QStringLiteral("large"), failFolder})
        QFile::remove(entryPath(local, folder));
}

} // namespace orva
