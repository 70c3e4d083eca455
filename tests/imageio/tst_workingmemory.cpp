#include "imageio/DecodeLimits.h"
#include "imageio/ImageDecoding.h"
#include "imageio/JpegHeader.h"
#include "support/ImageFixtures.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orva;

namespace {

// Address space in use now: an address-space limit counts from here (a sanitizer build
// reserves terabytes before main).
qint64 virtualSize()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

enum ChildResult { decoded = 10, refused = 20, failedOtherwise = 30, crashed = -1 };

// Decodes `file` in a child process whose working-memory budget is `budget` and whose
// address space may grow by `headroom` only, so a decode that allocates past it dies.
int decodeInChild(const QString &file, qint64 budget, qint64 headroom)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const qint64 base = virtualSize();
        rlimit limit{rlim_t(base + headroom), rlim_t(base + headroom)};
        if (base < 0 || setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(1);
        DecodeLimits::setWorkingMemoryBudget(budget);
        DecodeFailure failure = DecodeFailure::unreadable;
        const auto result = decodeImage(QUrl::fromLocalFile(file), 2560, &failure);
        _exit(result ? decoded : failure == DecodeFailure::tooLarge ? refused : failedOtherwise);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return crashed;
    return WEXITSTATUS(status);
}

// A flat grey JPEG of side x side pixels from cjpeg, without a picture in memory.
bool makeJpeg(const QString &file, int side, bool progressive)
{
    const QString script =
        QStringLiteral("(printf 'P5\\n%1 %1\\n255\\n'; head -c %2 /dev/zero | tr '\\000' '\\200')"
                       " | cjpeg %3 -outfile '%4'")
            .arg(side)
            .arg(qint64(side) * side)
            .arg(progressive ? QStringLiteral("-progressive") : QString(), file);
    return QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), script}) == 0;
}

} // namespace

class TestWorkingMemory : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // The frame header found behind a Huffman table, as progressive writers order them,
    // with 4:2:2 sampling (twice across, once down).
    void frameHeader()
    {
        QByteArray bytes =
            QByteArray::fromHex("ffd8ffc400040000ffc20011080010002003012100021101031101");
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const auto f = readJpegFrame(buffer);
        QVERIFY(f && f->progressive);
        QCOMPARE(QSize(f->width, f->height), QSize(32, 16));
        QCOMPARE(f->components.size(), 3);
        QCOMPARE(QSize(f->components[0].h, f->components[0].v), QSize(2, 1));
        QCOMPARE(QSize(f->components[1].h, f->components[1].v), QSize(1, 1));
    }

    void coefficientBuffers_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("progressive");
        QTest::addColumn<int>("components"); // 1 grey, 3 at 4:4:4, 4 for 4:2:0 colour
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("grey 12000 square") << 12000 << 12000 << true << 1 << qint64(288'000'000);
        // The panorama that ended a laptop's session: 2813 x 4163 blocks of 128 bytes, thrice.
        QTest::newRow("22500 x 33300 at 4:4:4")
            << 22500 << 33300 << true << 3 << qint64(4'496'839'296);
        // Chroma at half size in both directions, every plane padded to whole MCUs.
        QTest::newRow("4:2:0 colour")
            << 100 << 100 << true << 4 << qint64(14 * 14 * 128 + 2 * 7 * 7 * 128);
        QTest::newRow("baseline buffers no coefficients")
            << 12000 << 12000 << false << 3 << qint64(0);
    }
    void coefficientBuffers()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, progressive);
        QFETCH(int, components);
        QFETCH(qint64, bytes);
        JpegFrame f{width, height, progressive, {}};
        if (components == 4)
            f.components = {{2, 2}, {1, 1}, {1, 1}};
        else
            for (int i = 0; i < components; ++i)
                f.components.append({1, 1});
        QCOMPARE(jpegCoefficientBytes(f), bytes);
    }

    // libjpeg buffers a progressive file's coefficients at full size even for a small
    // preview: such a file is refused against the budget before libjpeg allocates, and the
    // process lives on; a baseline file of the same size still opens under the same limits.
    void progressiveJpegOverBudgetIsRefused_data()
    {
        QTest::addColumn<bool>("progressive");
        QTest::addColumn<int>("expected");
        QTest::newRow("progressive: 288 MB of coefficients") << true << int(refused);
        QTest::newRow("baseline: scaled while decoding") << false << int(decoded);
    }
    void progressiveJpegOverBudgetIsRefused()
    {
        QFETCH(bool, progressive);
        QFETCH(int, expected);
        const QString file = dir.filePath(QStringLiteral("big%1.jpg").arg(progressive));
        QVERIFY(makeJpeg(file, 12000, progressive));
        QCOMPARE(decodeInChild(file, 128LL << 20, 256LL << 20), expected);
    }

    void cgroupLimitIsTheSmallestOnThePath()
    {
        const QString root = dir.filePath(QStringLiteral("cgroup"));
        auto limit = [&](const QString &group, const QByteArray &value) {
            QVERIFY(QDir().mkpath(root + group));
            QFile f(root + group + QStringLiteral("/memory.max"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(value + '\n');
        };
        limit(QStringLiteral("/user.slice"), "max");
        limit(QStringLiteral("/user.slice/app"), "1073741824");
        limit(QStringLiteral("/user.slice/app/orva"), "max");
        limit(QStringLiteral("/other"), "2147483648");
        QCOMPARE(cgroupMemoryLimit(root, QStringLiteral("/user.slice/app/orva")),
                 std::optional<qint64>(1LL << 30));
        QCOMPARE(cgroupMemoryLimit(root, QStringLiteral("/user.slice")), std::nullopt);
        QCOMPARE(cgroupMemoryLimit(root, QStringLiteral("/other")),
                 std::optional<qint64>(2LL << 30));
        QCOMPARE(cgroupMemoryLimit(root, QStringLiteral("/missing/group")), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestWorkingMemory)
#include "tst_workingmemory.moc"
