#include "core/listing/FolderListing.h"

#include "core/metadata/MetadataRows.h"
#include "core/services/ImageService.h"
#include "core/settings/Settings.h"

#include <QCollator>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <limits>

namespace orva {

namespace {

struct Entry {
    QUrl url;
    QString name;
    std::optional<QDateTime> modified;
};

// Numeric collation is ignored under the C locale, which is what CI and many services run
// with; English keeps "img2" before "img10" there.
QCollator nameCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    collator.setIgnorePunctuation(false);
    return collator;
}

std::optional<QDateTime> modificationDate(const QFileInfo &info)
{
    const QDateTime d = info.lastModified();
    return d.isValid() ? std::optional(d) : std::nullopt;
}

QList<QUrl> sortEntries(QList<Entry> entries, SortOrder order, bool descending,
                        const ImageService &images)
{
    const QCollator collator = nameCollator();
    // One collation key per file instead of a collation per comparison; code points break
    // the ties collation leaves (names differing only in case) so the order is total.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(entries.size()));
    for (const Entry &e : entries)
        keys.push_back(collator.sortKey(e.name));
    std::vector<qint64> dates(size_t(entries.size()), std::numeric_limits<qint64>::min());
    if (order != SortOrder::name) {
        for (qsizetype i = 0; i < entries.size(); ++i) {
            std::optional<QDateTime> d;
            if (order == SortOrder::dateTaken)
                d = dateTaken(entries[i].url, images);
            if (!d)
                d = entries[i].modified;
            if (d) // undated files keep the distant past
                dates[size_t(i)] = d->toMSecsSinceEpoch();
        }
    }
    std::vector<qsizetype> index(size_t(entries.size()));
    for (size_t i = 0; i < index.size(); ++i)
        index[i] = qsizetype(i);
    auto byName = [&](qsizetype a, qsizetype b) {
        const int c = keys[size_t(a)].compare(keys[size_t(b)]);
        if (c != 0)
            return c < 0;
        return entries[a].name < entries[b].name;
    };
    std::stable_sort(index.begin(), index.end(), [&](qsizetype a, qsizetype b) {
        if (dates[size_t(a)] != dates[size_t(b)])
            return dates[size_t(a)] < dates[size_t(b)];
        return byName(a, b);
    });
    QList<QUrl> out;
    out.reserve(entries.size());
    for (qsizetype i : index)
        out.push_back(entries[i].url);
    if (descending)
        std::reverse(out.begin(), out.end());
    return out;
}

} // namespace

QByteArray localPath(const QUrl &url)
{
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

QUrl fileUrlFromLocalPath(const QByteArray &path)
{
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    // Tolerant parsing keeps the escapes of bytes that are not UTF-8 as they are.
    url.setPath(QString::fromLatin1(path.toPercentEncoding("/")), QUrl::TolerantMode);
    return url;
}

QUrl childFileUrl(const QUrl &folder, const QByteArray &name)
{
    QByteArray path = localPath(folder);
    if (!path.endsWith('/'))
        path += '/';
    return fileUrlFromLocalPath(path + name);
}

QUrl standardizedFileUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return url;
    return QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(url.toLocalFile()).absoluteFilePath()));
}

QUrl folderOf(const QUrl &file)
{
    return QUrl::fromLocalFile(QFileInfo(standardizedFileUrl(file).toLocalFile()).absolutePath());
}

SortOrder currentSortOrder(const Settings &settings) { return settings.sortOrder(); }

std::optional<QList<QUrl>> listImageFiles(const QUrl &folder, const std::optional<QUrl> &including,
                                          SortOrder order, bool descending,
                                          const ImageService &images)
{
    const QDir dir(folder.toLocalFile());
    if (!folder.isLocalFile() || !dir.exists() || !dir.isReadable())
        return std::nullopt;
    const QSet<QString> &extensions = images.supportedExtensions();
    // Hidden files are skipped by leaving out QDir::Hidden; stat data comes with the entry.
    const QFileInfoList infos =
        dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    QList<Entry> entries;
    entries.reserve(infos.size());
    // Dates cost a stat per file; a name sort needs none (the entry type comes with the
    // directory listing).
    const bool dated = order != SortOrder::name;
    const QString base = QDir::cleanPath(dir.absolutePath()) + QLatin1Char('/');
    for (const QFileInfo &info : infos) {
        const QString name = info.fileName();
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || !extensions.contains(name.mid(dot + 1).toLower()) || !info.isFile())
            continue;
        entries.push_back({QUrl::fromLocalFile(base + name), name,
                           dated ? modificationDate(info) : std::nullopt});
    }
    if (including) {
        const QUrl inc = standardizedFileUrl(*including);
        const QFileInfo info(inc.toLocalFile());
        const bool listed = std::any_of(entries.begin(), entries.end(),
                                        [&](const Entry &e) { return e.url == inc; });
        if (!listed && info.exists())
            entries.push_back(
                {inc, info.fileName(), dated ? modificationDate(info) : std::nullopt});
    }
    return sortEntries(std::move(entries), order, descending, images);
}

QList<QUrl> sortImageFiles(const QList<QUrl> &files, SortOrder order, bool descending,
                           const ImageService &images)
{
    QList<Entry> entries;
    entries.reserve(files.size());
    for (const QUrl &url : files) {
        const QFileInfo info(url.toLocalFile());
        entries.push_back({url, info.fileName(),
                           order == SortOrder::name ? std::nullopt : modificationDate(info)});
    }
    return sortEntries(std::move(entries), order, descending, images);
}

} // namespace orva
