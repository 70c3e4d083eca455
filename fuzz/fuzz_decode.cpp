// libFuzzer target over the decode entry point: the bytes become a file and are decoded
// as the viewer would, at preview and at full size, with its properties read.
#include "imageio/ImageDecoding.h"
#include "imageio/ImageProperties.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

namespace {

struct Environment {
    int argc = 1;
    char name[12] = "fuzz_decode";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Environment env;
    if (size < 2)
        return 0;
    // The first byte picks the name, so that every decoder gets its turn.
    static const char *const names[] = {"f.jpg", "f.png",  "f.gif",  "f.webp", "f.tif", "f.bmp",
                                        "f.ico", "f.heic", "f.avif", "f.psd",  "f.dng", "f.cur"};
    const QString path = env.dir.filePath(QString::fromLatin1(names[data[0] % 12]));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1));
    }
    const QUrl url = QUrl::fromLocalFile(path);
    orva::decodeImage(url, 256);
    orva::decodeImage(url);
    orva::makeThumbnail(url, 64);
    orva::readImageProperties(url);
    return 0;
}
