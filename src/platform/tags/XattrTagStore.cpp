#include "platform/tags/XattrTagStore.h"

#include "core/listing/FolderListing.h"

#include <QFile>

#include <cerrno>
#include <sys/xattr.h>

namespace orva {

namespace {

constexpr char attributeName[] = "user.xdg.tags";
// Far beyond any real tag list; a larger value is treated as damage, not read.
constexpr ssize_t maxAttributeSize = 64 * 1024;

QStringList splitTags(const QString &text)
{
    QStringList tags;
    for (const QString &part : text.split(QLatin1Char(','))) {
        QString name = part.trimmed();
        if (!name.isEmpty())
            tags.append(std::move(name));
    }
    return tags;
}

std::optional<QByteArray> attributePath(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    QByteArray path = orva::localPath(url); // bytes: the name need not be UTF-8
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

} // namespace

QStringList XattrTagStore::readTags(const QUrl &url) const
{
    const std::optional<QByteArray> path = attributePath(url);
    if (!path)
        return {};

    // Another program may rewrite the attribute between the size query and the read;
    // ERANGE means it grew, so ask again a few times before giving up.
    QByteArray value;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::getxattr(path->constData(), attributeName, nullptr, 0);
        if (size <= 0 || size > maxAttributeSize)
            return {};
        value.resize(size);
        const ssize_t read =
            ::getxattr(path->constData(), attributeName, value.data(), static_cast<size_t>(size));
        if (read >= 0) {
            value.truncate(read);
            return splitTags(QString::fromUtf8(value));
        }
        if (errno != ERANGE)
            return {};
    }
    return {};
}

std::optional<QString> writeTags(const QUrl &url, const QStringList &tags)
{
    const std::optional<QByteArray> path = attributePath(url);
    if (!path)
        return qt_error_string(ENOTSUP);

    QStringList names;
    for (const QString &tag : tags) {
        QString name = tag.trimmed();
        if (!name.isEmpty())
            names.append(std::move(name));
    }

    if (names.isEmpty()) {
        if (::removexattr(path->constData(), attributeName) != 0 && errno != ENODATA)
            return qt_error_string(errno);
        return std::nullopt;
    }

    const QByteArray value = names.join(QLatin1Char(',')).toUtf8();
    // Stay within what readTags accepts, so a successful write always reads back.
    if (value.size() > maxAttributeSize)
        return qt_error_string(E2BIG);
    if (::setxattr(path->constData(), attributeName, value.constData(),
                   static_cast<size_t>(value.size()), 0) != 0)
        return qt_error_string(errno);
    return std::nullopt;
}

std::optional<QString> XattrTagStore::writeTags(const QUrl &url, const QStringList &tags)
{
    return orva::writeTags(url, tags);
}

} // namespace orva
