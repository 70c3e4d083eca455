// Orva's Exif reading through Exiv2 (ExifWriter holds the writing side). Exiv2 reports errors by
// throwing; nothing thrown here leaves this file.
#include "imageio/ExifReader.h"

#include "imageio/HeifBoxes.h"

#include <QFile>

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <mutex>

namespace orva {

namespace {

void quietExiv2(int, const char *) {}

std::string nativePath(const QString &path) { return QFile::encodeName(path).toStdString(); }

template <class Fn> auto guarded(Fn fn) -> decltype(fn())
{
    try {
        return fn();
    } catch (const Exiv2::AnyError &) {
    } catch (const std::exception &) { // bad_alloc and friends on hostile sizes
    }
    return std::nullopt;
}

const Exiv2::Exifdatum *find(const Exiv2::ExifData &data, const char *key)
{
    const auto it = data.findKey(Exiv2::ExifKey(key));
    return it == data.end() ? nullptr : &*it;
}

bool isNumber(const Exiv2::Exifdatum &d)
{
    switch (d.typeId()) {
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::unsignedRational:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
    case Exiv2::signedRational:
    case Exiv2::tiffFloat:
    case Exiv2::tiffDouble:
        return d.count() > 0;
    default:
        return false;
    }
}

std::optional<QString> text(const Exiv2::ExifData &data, const char *key)
{
    const auto *d = find(data, key);
    if (!d || d->typeId() != Exiv2::asciiString)
        return std::nullopt;
    std::string s = d->toString();
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::optional<double> number(const Exiv2::ExifData &data, const char *key, long index = 0)
{
    const auto *d = find(data, key);
    if (!d || !isNumber(*d) || index >= long(d->count()))
        return std::nullopt;
    double v = 0;
    if (d->typeId() == Exiv2::unsignedRational || d->typeId() == Exiv2::signedRational) {
        const Exiv2::Rational r = d->toRational(index);
        if (r.second == 0)
            return std::nullopt;
        v = double(r.first) / double(r.second);
    } else {
        v = double(d->toFloat(index));
    }
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> integer(const Exiv2::ExifData &data, const char *key)
{
    const auto *d = find(data, key);
    if (!d || !isNumber(*d))
        return std::nullopt;
    const long v = d->toLong(0);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(v);
}

// Degrees, minutes and seconds as three rationals.
std::optional<double> coordinate(const Exiv2::ExifData &data, const char *key)
{
    const auto *d = find(data, key);
    if (!d || !isNumber(*d))
        return std::nullopt;
    double value = 0;
    double unit = 1;
    for (long i = 0; i < std::min<long>(3, long(d->count())); ++i, unit *= 60) {
        const auto part = number(data, key, i);
        if (!part)
            return std::nullopt;
        value += *part / unit;
    }
    return value;
}

bool hasGroup(const Exiv2::ExifData &data, const char *group)
{
    for (const auto &d : data)
        if (d.groupName() == group)
            return true;
    return false;
}

// Opens the file, reads its metadata and hands the image to `fn`; absent when Exiv2 does
// not know the file.
template <class Fn>
auto withMetadata(const QString &path, Fn fn) -> decltype(fn(std::declval<Exiv2::Image &>()))
{
    initializeExiv2();
    auto image = Exiv2::ImageFactory::open(nativePath(path));
    if (!image.get())
        return std::nullopt;
    image->readMetadata();
    return fn(*image);
}

ExifProperties propertiesOf(const Exiv2::ExifData &data)
{
    ExifProperties p;
    if (const auto o = integer(data, "Exif.Image.Orientation"); o && *o >= 1 && *o <= 8)
        p.orientation = o;
    p.bitsPerSample = integer(data, "Exif.Image.BitsPerSample");
    p.photometricInterpretation = integer(data, "Exif.Image.PhotometricInterpretation");
    p.pixelWidth = integer(data, "Exif.Image.ImageWidth");
    p.pixelHeight = integer(data, "Exif.Image.ImageLength");
    if (hasGroup(data, "Image"))
        p.tiff = TiffProperties{text(data, "Exif.Image.Make"), text(data, "Exif.Image.Model")};
    if (hasGroup(data, "Photo")) {
        ExifCaptureProperties e;
        e.dateTimeOriginal = text(data, "Exif.Photo.DateTimeOriginal");
        e.focalLength = number(data, "Exif.Photo.FocalLength");
        e.fNumber = number(data, "Exif.Photo.FNumber");
        e.exposureTime = number(data, "Exif.Photo.ExposureTime");
        if (const auto *iso = find(data, "Exif.Photo.ISOSpeedRatings"); iso && isNumber(*iso)) {
            QList<int> values;
            for (long i = 0; i < std::min<long>(long(iso->count()), 16); ++i)
                values << int(iso->toLong(i));
            e.isoSpeedRatings = values;
        }
        e.lensModel = text(data, "Exif.Photo.LensModel");
        p.exif = e;
    }
    if (hasGroup(data, "GPSInfo"))
        p.gps = GpsProperties{coordinate(data, "Exif.GPSInfo.GPSLatitude"),
                              text(data, "Exif.GPSInfo.GPSLatitudeRef"),
                              coordinate(data, "Exif.GPSInfo.GPSLongitude"),
                              text(data, "Exif.GPSInfo.GPSLongitudeRef")};
    return p;
}

} // namespace

void initializeExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setHandler(quietExiv2);
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(); // not thread-safe on first use
        Exiv2::enableBMFF(true);        // HEIF and AVIF
    });
}

std::optional<ExifProperties> readExifProperties(const QString &path)
{
    auto read = guarded([&]() -> std::optional<ExifProperties> {
        return withMetadata(path, [](Exiv2::Image &image) -> std::optional<ExifProperties> {
            return propertiesOf(image.exifData());
        });
    });
    if (read)
        return read;
    // Exiv2 gives up on a HEIF file cut short anywhere, even far behind its Exif item.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QByteArray> block = readHeifExifBlock(file);
    if (!block)
        return std::nullopt;
    return guarded([&]() -> std::optional<ExifProperties> {
        initializeExiv2();
        Exiv2::ExifData data;
        Exiv2::ExifParser::decode(data, reinterpret_cast<const Exiv2::byte *>(block->constData()),
                                  uint32_t(block->size()));
        if (data.empty())
            return std::nullopt;
        return propertiesOf(data);
    });
}

std::optional<int> readExifOrientation(const QString &path)
{
    return guarded([&]() -> std::optional<int> {
        return withMetadata(path, [](Exiv2::Image &image) -> std::optional<int> {
            const auto o = integer(image.exifData(), "Exif.Image.Orientation");
            return o && *o >= 1 && *o <= 8 ? o : std::nullopt;
        });
    });
}

std::optional<QByteArray> exifThumbnailData(const QString &path)
{
    return guarded([&]() -> std::optional<QByteArray> {
        return withMetadata(path, [](Exiv2::Image &image) -> std::optional<QByteArray> {
            Exiv2::ExifThumbC thumb(image.exifData());
            const Exiv2::DataBuf buf = thumb.copy();
            if (buf.size_ <= 0)
                return std::nullopt;
            return QByteArray(reinterpret_cast<const char *>(buf.pData_), buf.size_);
        });
    });
}

} // namespace orva
