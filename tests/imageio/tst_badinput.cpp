// Broken, truncated and hostile files: every decode ends with an absent result or a
// sound image, never a crash, a hang or an allocation the header asked for.
#include "imageio/ImageDecoding.h"
#include "imageio/ImageProperties.h"
#include "support/ImageFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

using namespace orva;
using namespace orva::test;

namespace {

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A decode result must describe itself consistently.
void checkSound(const std::optional<DecodedImage> &d)
{
    if (!d)
        return;
    QVERIFY(d->image);
    QVERIFY(d->preview);
    QVERIFY(d->resolution > 0 && d->resolution <= 1.0);
    if (d->bitmap) {
        QVERIFY(!d->bitmap->isNull());
        QVERIFY(d->image->pointSize.width() >= 1);
    } else {
        QVERIFY(!d->image->frames.empty());
    }
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QMap<QString, QByteArray> samples; // extension -> valid file

    // With ORVA_FUZZ_SEEDS set, the valid samples become the fuzzer's seed corpus: the
    // first byte picks the file name the fuzz target writes (see fuzz/fuzz_decode.cpp).
    void writeFuzzSeeds() const
    {
        const QString out = qEnvironmentVariable("ORVA_FUZZ_SEEDS");
        if (out.isEmpty())
            return;
        const QStringList names{QStringLiteral("jpg"), QStringLiteral("png"),
                                QStringLiteral("gif"), QStringLiteral("webp"),
                                QStringLiteral("tif"), QStringLiteral("bmp"),
                                QStringLiteral("ico"), QStringLiteral("heic")};
        QDir().mkpath(out);
        for (const auto &[ext, bytes] : samples.asKeyValueRange()) {
            const qsizetype pick = ext == QLatin1String("apng") ? 1 : names.indexOf(ext);
            if (pick >= 0)
                writeBytes(out + QStringLiteral("/seed-") + ext, QByteArray(1, char(pick)) + bytes);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        const QImage img = quadrants(48, 32);
        auto keep = [&](const QString &ext) {
            samples.insert(ext, readBytes(dir.filePath(QStringLiteral("valid.") + ext)));
            QVERIFY(!samples.value(ext).isEmpty());
        };
        for (const char *fmt : {"jpg", "png", "bmp", "tif", "webp", "ico"}) {
            const QString ext = QString::fromLatin1(fmt);
            QVERIFY(img.save(dir.filePath(QStringLiteral("valid.") + ext)));
            keep(ext);
        }
        QVERIFY(setExifTags(dir.filePath(QStringLiteral("valid.jpg")),
                            {{"Exif.Image.Orientation", "6"}, {"Exif.Image.Make", "Test"}}));
        keep(QStringLiteral("jpg"));
        QVERIFY(
            writeGif(dir.filePath(QStringLiteral("valid.gif")), {img, img.mirrored()}, {10, 10}));
        keep(QStringLiteral("gif"));
        QVERIFY(writeHeif(dir.filePath(QStringLiteral("valid.heic")), img, 8));
        keep(QStringLiteral("heic"));
        samples.insert(QStringLiteral("apng"), buildApng({img, img.mirrored()}, {50, 50}));
        writeFuzzSeeds();
    }

    void truncations_data()
    {
        QTest::addColumn<QString>("ext");
        for (const QString &ext : samples.keys())
            QTest::newRow(qPrintable(ext)) << ext;
    }
    void truncations()
    {
        QFETCH(QString, ext);
        const QByteArray valid = samples.value(ext);
        const QString name = dir.filePath(
            QStringLiteral("cut.") + (ext == QLatin1String("apng") ? QStringLiteral("png") : ext));
        const qsizetype step = std::max<qsizetype>(1, valid.size() / 40);
        for (qsizetype n = 0; n < valid.size(); n += step) {
            QVERIFY(writeBytes(name, valid.left(n)));
            checkSound(decodeImage(QUrl::fromLocalFile(name), 64));
            readImageProperties(QUrl::fromLocalFile(name));
        }
    }

    void corruptions_data() { truncations_data(); }
    void corruptions()
    {
        QFETCH(QString, ext);
        const QByteArray valid = samples.value(ext);
        const QString name = dir.filePath(
            QStringLiteral("bad.") + (ext == QLatin1String("apng") ? QStringLiteral("png") : ext));
        quint32 seed = 12345;
        for (int round = 0; round < 60; ++round) {
            QByteArray bytes = valid;
            // Headers matter most: half the damage lands in the first 64 bytes.
            for (int k = 0; k < 3; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const qsizetype at = (round % 2 ? seed % std::min<qsizetype>(64, bytes.size())
                                                : seed % bytes.size());
                bytes[at] = char(bytes[at] ^ char(1 + (seed >> 24) % 255));
            }
            QVERIFY(writeBytes(name, bytes));
            checkSound(decodeImage(QUrl::fromLocalFile(name), 64));
            readImageProperties(QUrl::fromLocalFile(name));
        }
    }

    void emptyAndWrongFiles()
    {
        const QString empty = dir.filePath(QStringLiteral("empty.jpg"));
        QVERIFY(writeBytes(empty, QByteArray()));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(empty)));
        QVERIFY(!makeThumbnail(QUrl::fromLocalFile(empty), 64));
        const QString text = dir.filePath(QStringLiteral("notes.png"));
        QVERIFY(writeBytes(text, "just some text, not an image\n"));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(text)));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing.png")))));
        // A real image behind the wrong extension still shows.
        const QString misnamed = dir.filePath(QStringLiteral("really-png.heic"));
        QVERIFY(writeBytes(misnamed, samples.value(QStringLiteral("png"))));
        const auto d = decodeImage(QUrl::fromLocalFile(misnamed));
        QVERIFY(d);
        QCOMPARE(d->bitmap->size(), QSize(48, 32));
    }

    // Headers claiming gigapixels must be refused before anything that size is allocated
    // (under AddressSanitizer such an allocation aborts the test).
    void hostileDimensions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");

        QByteArray bmp(54 + 4, '\0');
        bmp[0] = 'B';
        bmp[1] = 'M';
        qToLittleEndian<quint32>(quint32(bmp.size()), bmp.data() + 2);
        qToLittleEndian<quint32>(54, bmp.data() + 10);
        qToLittleEndian<quint32>(40, bmp.data() + 14);
        qToLittleEndian<qint32>(1073741826, bmp.data() + 18);
        qToLittleEndian<qint32>(1, bmp.data() + 22);
        qToLittleEndian<quint16>(1, bmp.data() + 26);
        qToLittleEndian<quint16>(32, bmp.data() + 28);
        QTest::newRow("bmp 1073741826x1") << QStringLiteral("huge.bmp") << bmp;

        QByteArray gif("GIF89a");
        gif += QByteArray("\xff\xff\xff\xff\x00\x00\x00", 7);
        gif += QByteArray(",\x00\x00\x00\x00\xff\xff\xff\xff\x00\x02\x02\x44\x01\x00;", 17);
        QTest::newRow("gif 65535x65535") << QStringLiteral("huge.gif") << gif;

        QByteArray png("\x89PNG\r\n\x1a\n", 8);
        QByteArray ihdr("IHDR");
        char dims[8];
        qToBigEndian<quint32>(200000, dims);
        qToBigEndian<quint32>(200000, dims + 4);
        ihdr.append(dims, 8);
        ihdr.append("\x08\x06\x00\x00\x00", 5);
        char len[4];
        qToBigEndian<quint32>(13, len);
        png.append(len, 4);
        png += ihdr;
        char crc[4];
        qToBigEndian<quint32>(
            quint32(crc32(0, reinterpret_cast<const Bytef *>(ihdr.constData()), uInt(ihdr.size()))),
            crc);
        png.append(crc, 4);
        QTest::newRow("png 200000x200000") << QStringLiteral("huge.png") << png;
    }
    void hostileDimensions()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString p = dir.filePath(name);
        QVERIFY(writeBytes(p, bytes));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(p)));
        QVERIFY(!decodeImage(QUrl::fromLocalFile(p), 2560));
        QVERIFY(!makeThumbnail(QUrl::fromLocalFile(p), 256));
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
