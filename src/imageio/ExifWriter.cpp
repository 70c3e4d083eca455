// Exiv2 reports errors by throwing; nothing thrown here leaves this file.
#include "imageio/ExifWriter.h"

#include "imageio/ExifReader.h"
#include "imageio/Rotation.h"

#include <exiv2/exiv2.hpp>

namespace orva {

namespace {

template <class Fn> auto guarded(Fn fn) -> decltype(fn())
{
    try {
        return fn();
    } catch (const Exiv2::AnyError &) {
    } catch (const std::exception &) {
    }
    return std::nullopt;
}

auto openBytes(const QByteArray &file)
{
    initializeExiv2();
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(file.constData()),
                                           long(file.size()));
    if (image.get())
        image->readMetadata();
    return image;
}

QByteArray bytesOf(Exiv2::Image &image)
{
    Exiv2::BasicIo &io = image.io();
    io.open();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf buf = io.read(long(io.size()));
    io.close();
    return QByteArray(reinterpret_cast<const char *>(buf.pData_), buf.size_);
}

// The single reading of the stored orientation the writers compute from.
int storedOrientation(const Exiv2::ExifData &exif)
{
    const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (it == exif.end() || it->count() == 0)
        return 1;
    switch (it->typeId()) {
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
        break;
    default:
        return 1;
    }
    const long value = it->toLong(0);
    return value >= 1 && value <= 8 ? int(value) : 1;
}

template <class Data, class Key> void eraseKey(Data &data, const char *key)
{
    const auto it = data.findKey(Key(key));
    if (it != data.end())
        data.erase(it);
}

} // namespace

std::optional<int> readStoredOrientation(const QByteArray &file)
{
    return guarded([&]() -> std::optional<int> {
        auto image = openBytes(file);
        if (!image.get())
            return std::nullopt;
        return storedOrientation(image->exifData());
    });
}

std::optional<QByteArray> withRotatedOrientation(const QByteArray &file, int quarterTurns)
{
    return guarded([&]() -> std::optional<QByteArray> {
        auto image = openBytes(file);
        if (!image.get())
            return std::nullopt;
        const auto value = uint16_t(
            rotatedOrientation(std::uint32_t(storedOrientation(image->exifData())), quarterTurns));
        // Assigning a 16-bit value also turns an oddly typed entry into the standard SHORT.
        image->exifData()["Exif.Image.Orientation"] = value;
        Exiv2::XmpData &xmp = image->xmpData();
        if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end())
            xmp["Xmp.tiff.Orientation"] = std::to_string(value);
        image->writeMetadata();
        return bytesOf(*image);
    });
}

std::optional<QByteArray> withMetadataOf(const QByteArray &original, const QByteArray &encoded)
{
    return guarded([&]() -> std::optional<QByteArray> {
        auto from = openBytes(original);
        if (!from.get())
            return std::nullopt;
        Exiv2::ExifData exif = from->exifData();
        Exiv2::XmpData xmp = from->xmpData();
        const Exiv2::IptcData iptc = from->iptcData();
        if (exif.empty() && xmp.empty() && iptc.empty())
            return encoded;
        Exiv2::ExifThumb(exif).erase();
        for (const char *key :
             {"Exif.Image.Orientation", "Exif.Image.ImageWidth", "Exif.Image.ImageLength",
              "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension"})
            eraseKey<Exiv2::ExifData, Exiv2::ExifKey>(exif, key);
        for (const char *key :
             {"Xmp.tiff.Orientation", "Xmp.tiff.ImageWidth", "Xmp.tiff.ImageLength",
              "Xmp.exif.PixelXDimension", "Xmp.exif.PixelYDimension"})
            eraseKey<Exiv2::XmpData, Exiv2::XmpKey>(xmp, key);
        auto to = openBytes(encoded);
        if (!to.get())
            return std::nullopt;
        to->setExifData(exif);
        to->setXmpData(xmp);
        to->setIptcData(iptc);
        to->writeMetadata();
        return bytesOf(*to);
    });
}

} // namespace orva
