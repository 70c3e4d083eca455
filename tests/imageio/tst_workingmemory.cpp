// Working memory: files whose decode would need more than the budget are refused before
// anything that size is allocated.
#include "imageio/DecodeLimits.h"
#include "imageio/ImageDecoding.h"
#include "support/ImageFixtures.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orva;
using namespace orva::test;
using namespace Qt::StringLiterals;

namespace {

// Address space in use now: an address-space limit counts from here (a sanitizer build
// reserves terabytes before main).
qint64 virtualSize()
{
    for (const QByteArray &line : readFile(u"/proc/self/status"_s).split('\n'))
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

} // namespace

// Its own process: the decodes run in children forked before any other decode has
// started threads.
class TestWorkingMemory : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    // libjpeg buffers a progressive file's coefficients at full size even for a small
    // preview: such a file is refused against the budget before libjpeg allocates, and the
    // process lives on; a baseline file of the same size still opens under the same limits.
    void progressiveJpegOverBudgetIsRefused()
    {
        for (const bool progressive : {true, false}) {
            const QString file = path(u"big%1.jpg"_s.arg(progressive)); // flat grey, 12000 square
            const QString script =
                u"(printf 'P5\\n12000 12000\\n255\\n'; head -c 144000000 /dev/zero | tr '\\000' "
                u"'\\200') | cjpeg %1 -outfile '%2'"_s.arg(progressive ? u"-progressive"_s : u""_s,
                                                           file);
            QCOMPARE(QProcess::execute(u"sh"_s, {u"-c"_s, script}), 0);
            QCOMPARE(decodeInChild(file, 128LL << 20, 256LL << 20),
                     progressive ? int(refused) : int(decoded));
        }
    }

    void cgroupLimitIsTheSmallestOnThePath()
    {
        const QString root = path(u"cgroup"_s);
        for (const auto &[group, value] : {std::pair(u"/user.slice"_s, "4294967296"),
                                           {u"/user.slice/app"_s, "1073741824"},
                                           {u"/user.slice/app/orva"_s, "max"},
                                           {u"/other"_s, "max"}})
            QVERIFY(QDir().mkpath(root + group) &&
                    writeFile(root + group + u"/memory.max"_s, QByteArray(value) + '\n'));
        QCOMPARE(cgroupMemoryLimit(root, u"/user.slice/app/orva"_s), std::optional(1LL << 30));
        QCOMPARE(cgroupMemoryLimit(root, u"/user.slice"_s), std::optional(4LL << 30));
        QCOMPARE(cgroupMemoryLimit(root, u"/other"_s), std::nullopt);
        QCOMPARE(cgroupMemoryLimit(root, u"/missing/group"_s), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestWorkingMemory)
#include "tst_workingmemory.moc"
