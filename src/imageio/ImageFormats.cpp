#include "imageio/ImageFormats.h"

#include "core/listing/FolderListing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QTemporaryDir>

#include <libheif/heif.h>

#include <atomic>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace orva {

namespace {

QString s(const char *text) { return QString::fromLatin1(text); }

bool inheritsAny(const QString &mimeType, std::initializer_list<const char *> bases)
{
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForName(mimeType);
    if (!type.isValid())
        return false;
    for (const char *base : bases)
        if (type.inherits(s(base)))
            return true;
    return false;
}

bool isImageType(const QMimeType &type)
{
    if (!type.isValid())
        return false;
    if (type.name().startsWith(QLatin1String("image/")))
        return true;
    for (const QString &parent : type.allAncestors())
        if (parent.startsWith(QLatin1String("image/")))
            return true;
    return false;
}

// What the decoders read: file-name extensions (the gate for opening a file) and the MIME
// types behind them (what the desktop entry announces). Both grow together so they cannot
// disagree.
struct SupportedTypes {
    QSet<QString> extensions;
    QSet<QString> mimeTypes;

    void add(const QMimeType &type)
    {
        if (!isImageType(type))
            return;
        mimeTypes.insert(type.name());
        for (const QString &suffix : type.suffixes())
            extensions.insert(suffix.toLower());
    }
    // A format Qt names but declares no MIME type for: only that extension counts.
    void addExtension(const QString &ext, const QMimeType &type)
    {
        if (!isImageType(type))
            return;
        mimeTypes.insert(type.name());
        extensions.insert(ext);
    }
};

SupportedTypes buildSupportedTypes()
{
    QMimeDatabase db;
    SupportedTypes out;
    // Qt's plugins, by the MIME types they declare and by their format names (which is how
    // some, such as "cur", are only listed).
    for (const QByteArray &name : QImageReader::supportedMimeTypes())
        out.add(db.mimeTypeForName(QString::fromLatin1(name)));
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        const QString ext = QString::fromLatin1(format).toLower();
        out.addExtension(
            ext, db.mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension));
    }
    // libheif, for the codecs it was built with.
    if (heif_have_decoder_for_format(heif_compression_HEVC)) {
        out.add(db.mimeTypeForName(s("image/heif")));
        out.add(db.mimeTypeForName(s("image/heic")));
    }
    if (heif_have_decoder_for_format(heif_compression_AV1))
        out.add(db.mimeTypeForName(s("image/avif")));
    // LibRaw: every camera format the MIME database knows.
    for (const QMimeType &type : db.allMimeTypes())
        if (type.inherits(s("image/x-dcraw")))
            out.add(type);
    // The Photoshop composite reader; the MIME database does not know large documents.
    out.add(db.mimeTypeForName(s("image/vnd.adobe.photoshop")));
    out.extensions.insert(s("psb"));
    return out;
}

const SupportedTypes &supportedTypes()
{
    static const SupportedTypes types = buildSupportedTypes(); // thread-safe init
    return types;
}

} // namespace

const std::vector<ImageFormat> &ImageFormat::all()
{
    static const std::vector<ImageFormat> table{
        {s("JPEG"), {s("jpg"), s("jpeg")}},
        {s("PNG"), {s("png")}},
        {s("GIF"), {s("gif")}},
        {s("HEIC"), {s("heic")}},
        {s("HEIF"), {s("heif")}},
        {s("WebP"), {s("webp")}},
        {s("AVIF"), {s("avif")}},
        {s("TIFF"), {s("tif"), s("tiff")}},
        {s("BMP"), {s("bmp")}},
        {s("ICO"), {s("ico")}},
        {s("Photoshop"), {s("psd")}},
        {s("Canon RAW"), {s("cr2")}},
        {s("Nikon RAW"), {s("nef")}},
        {s("Sony RAW"), {s("arw")}},
        {s("Adobe DNG"), {s("dng")}},
        {s("Olympus RAW"), {s("orf")}},
        {s("Panasonic RAW"), {s("rw2")}},
    };
    return table;
}

const QSet<QString> &supportedImageExtensions() { return supportedTypes().extensions; }

QStringList supportedImageMimeTypes()
{
    QStringList types = supportedTypes().mimeTypes.values();
    types.sort();
    return types;
}

ReadablePath::ReadablePath(const QUrl &url)
{
    if (!url.isLocalFile())
        return;
    const QByteArray bytes = localPath(standardizedFileUrl(url));
    const QString decoded = QFile::decodeName(bytes);
    if (QFile::encodeName(decoded) == bytes) {
        path_ = decoded;
        return;
    }
    static QTemporaryDir links(QDir::tempPath() + QStringLiteral("/orva-links-XXXXXX"));
    static std::atomic<int> counter = 0;
    if (!links.isValid())
        return;
    // The extension decides the decoder for camera raw files, so the link keeps it.
    const QString name = QFile::decodeName(bytes.mid(bytes.lastIndexOf('/') + 1));
    const QString link =
        links.filePath(QString::number(counter++) + QLatin1Char('.') + QFileInfo(name).suffix());
    const QByteArray linkBytes = QFile::encodeName(link);
    if (::symlink(bytes.constData(), linkBytes.constData()) != 0)
        return;
    link_ = linkBytes;
    path_ = link;
}

ReadablePath::~ReadablePath()
{
    if (!link_.isEmpty())
        ::unlink(link_.constData());
}

bool isSupportedImageFile(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QByteArray path = localPath(url); // bytes: the name need not be UTF-8
    if (path.isEmpty() || path.endsWith('/'))
        return false;
    const QString name = QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
    if (!supportedImageExtensions().contains(QFileInfo(name).suffix().toLower()))
        return false;
    // A path that cannot be examined counts as a file; opening it decides later.
    struct stat st {};
    return !(::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode));
}

QString imageMimeType(const QString &path)
{
    static const QMimeDatabase db;
    const QMimeType byContent = db.mimeTypeForFile(path, QMimeDatabase::MatchContent);
    if (isImageType(byContent))
        return byContent.name();
    return db.mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
}

DecoderKind decoderKindFor(const QString &path)
{
    return decoderKindFor(path, imageMimeType(path));
}

DecoderKind decoderKindFor(const QString &path, const QString &type)
{
    static const QMimeDatabase db;
    const QMimeType byName = db.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    // Raw files carry a TIFF structure whose first image is a tiny preview; only the
    // extension tells them apart.
    if (byName.inherits(s("image/x-dcraw")))
        return DecoderKind::raw;
    if (inheritsAny(type, {"image/heif", "image/avif"}))
        return DecoderKind::heif;
    if (inheritsAny(type, {"image/vnd.adobe.photoshop"}) ||
        byName.name() == QLatin1String("image/vnd.adobe.photoshop"))
        return DecoderKind::psd;
    return DecoderKind::qt;
}

bool isAnimatedImageType(const QString &mimeType)
{
    return inheritsAny(mimeType, {"image/gif", "image/png", "image/webp"});
}

bool isOrientationTaggedType(const QString &mimeType)
{
    return inheritsAny(mimeType, {"image/jpeg", "image/heif", "image/tiff"});
}

bool isPixelRotatedType(const QString &mimeType)
{
    return inheritsAny(mimeType, {"image/png", "image/bmp"});
}

} // namespace orva
