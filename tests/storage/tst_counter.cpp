// The remaining-shots arithmetic: rounding, 64-bit products and the display limit; and the
// storage probe's reading of a file system's answer, on every processor's word size.
#include "storage/counter.h"
#include "storage/storageprobe.h"

#include <QTest>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <limits>
#include <sys/stat.h>
#include <sys/vfs.h>

// A simulated memory card: statfs() and stat() of its folder answer what the kernel and the
// C library would for the file system of the row being run, EOVERFLOW included where a
// value does not fit the caller's structure (32-bit fields without large-file support).
// Every other path gets the real answer. Defined here under the names the headers give the
// calls, so the probe linked into this test calls these.
namespace {
constexpr char simulatedCard[] = "/simulated-card";
struct SimulatedFileSystem {
    quint64 blockSize = 0, freeBlocks = 0, inodes = 0, folderInode = 0;
} simulated;

template <typename Field>
bool fits(quint64 value, Field)
{
    return value <= quint64(std::numeric_limits<Field>::max());
}

template <typename Fn>
Fn realCall(Fn, const char* plain, const char* large)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, sizeof(off_t) == 8 && sizeof(long) == 4 ? large : plain));
}
} // namespace

extern "C" int statfs(const char* path, struct statfs* buf) noexcept
{
    if (std::strcmp(path, simulatedCard) != 0)
        return realCall(&statfs, "statfs", "statfs64")(path, buf);
    const SimulatedFileSystem& fs = simulated;
    if (!fits(fs.blockSize, buf->f_bsize) || !fits(fs.freeBlocks, buf->f_bfree)
        || !fits(fs.inodes, buf->f_files)) {
        errno = EOVERFLOW;
        return -1;
    }
    std::memset(buf, 0, sizeof *buf);
    buf->f_bsize = decltype(buf->f_bsize)(fs.blockSize);
    buf->f_frsize = decltype(buf->f_frsize)(fs.blockSize);
    buf->f_blocks = buf->f_bfree = buf->f_bavail = decltype(buf->f_bfree)(fs.freeBlocks);
    buf->f_files = buf->f_ffree = decltype(buf->f_files)(fs.inodes);
    return 0;
}

extern "C" int stat(const char* path, struct stat* buf) noexcept
{
    if (std::strcmp(path, simulatedCard) != 0)
        return realCall(&stat, "stat", "stat64")(path, buf);
    if (!fits(simulated.folderInode, buf->st_ino)) {
        errno = EOVERFLOW;
        return -1;
    }
    std::memset(buf, 0, sizeof *buf);
    buf->st_ino = decltype(buf->st_ino)(simulated.folderInode);
    buf->st_mode = S_IFDIR | 0755;
    buf->st_dev = 0x0801;
    return 0;
}

class TestCounter : public QObject {
    Q_OBJECT
private slots:
    void remaining_data();
    void remaining();
    void limit_data();
    void limit();
    void cardSpace_data();
    void cardSpace();
};

void TestCounter::remaining_data()
{
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<int>("freeBlocks");
    QTest::addColumn<int>("estimate");
    QTest::addColumn<bool>("freeKiB");
    QTest::addColumn<qint64>("value");
    QTest::newRow("4 KiB blocks, 60 KiB") << 4096 << 1000 << 60 << false << qint64(66);
    QTest::newRow("1 KiB blocks, 60 KiB") << 1024 << 1000 << 60 << false << qint64(16);
    QTest::newRow("61 KiB rounds up to 16 blocks") << 4096 << 160 << 61 << false << qint64(10);
    QTest::newRow("61 KiB, one block short") << 4096 << 159 << 61 << false << qint64(9);
    QTest::newRow("estimate 0") << 4096 << 1000 << 0 << false << qint64(0);
    QTest::newRow("block size 0 gives free blocks") << 0 << 1234 << 60 << false << qint64(1234);
    QTest::newRow("no free block") << 4096 << 0 << 2 << false << qint64(0);
    QTest::newRow("free KiB") << 4096 << 1000 << 60 << true << qint64(4000);
    QTest::newRow("free KiB beyond 32 bits") << 4096 << 3000000 << 60 << true << qint64(12000000);
    QTest::newRow("free KiB of 512-byte blocks") << 512 << 3 << 60 << true << qint64(1);
    QTest::newRow("huge block size") << 0x40000000 << 10 << 255 << false << qint64(10);
}

void TestCounter::remaining()
{
    QFETCH(int, blockSize);
    QFETCH(int, freeBlocks);
    QFETCH(int, estimate);
    QFETCH(bool, freeKiB);
    QFETCH(qint64, value);
    QCOMPARE(qint64(remainingValue(blockSize, freeBlocks, estimate, freeKiB)), value);
}

void TestCounter::limit_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("digits");
    QTest::addColumn<int>("shown");
    QTest::newRow("fits") << qint64(66) << 5 << 66;
    QTest::newRow("largest that fits") << qint64(99999) << 5 << 99999;
    QTest::newRow("one too many") << qint64(100000) << 5 << 99999;
    QTest::newRow("12,000,000 KiB") << qint64(12000000) << 5 << 99999;
    QTest::newRow("three digits") << qint64(1000) << 3 << 999;
    QTest::newRow("beyond 32 bits") << qint64(1) << 12 << 1;
    QTest::newRow("beyond 32 bits, clamped") << (qint64(1) << 40) << 12 << int(0x7fffffff);
}

void TestCounter::limit()
{
    QFETCH(qint64, value);
    QFETCH(int, digits);
    QFETCH(int, shown);
    QCOMPARE(displayValue(value, digits), shown);
}

void TestCounter::cardSpace_data()
{
    QTest::addColumn<quint64>("blockSize");
    QTest::addColumn<quint64>("freeBlocks");
    QTest::addColumn<quint64>("inodes");
    QTest::addColumn<quint64>("folderInode");
    QTest::addColumn<bool>("freeKiB");
    QTest::addColumn<qint64>("value");
    const quint64 beyond32 = quint64(1) << 32;
    QTest::newRow("5 GiB free, free KiB") << quint64(4096) << quint64(1310720) << quint64(327680)
                                          << quint64(2) << true << qint64(5242880);
    QTest::newRow("5 GiB free, pictures of 60 KiB")
        << quint64(4096) << quint64(1310720) << quint64(327680) << quint64(2) << false
        << qint64(87381);
    QTest::newRow("FAT card, 32 KiB clusters, 60 GiB free")
        << quint64(32768) << quint64(1966080) << quint64(0) << quint64(1) << true
        << qint64(62914560);
    QTest::newRow("inode count beyond 32 bits")
        << quint64(4096) << quint64(1310720) << beyond32 * 2 << quint64(128) << true
        << qint64(5242880);
    QTest::newRow("folder's inode number beyond 32 bits")
        << quint64(4096) << quint64(1310720) << quint64(327680) << beyond32 + 5 << true
        << qint64(5242880);
    QTest::newRow("5 TiB free in 1 KiB blocks counts as full range")
        << quint64(1024) << beyond32 * 5 / 4 << quint64(327680) << quint64(2) << true
        << qint64(INT_MAX);
}

// What the counter shows for a card whose file system gives these answers.
void TestCounter::cardSpace()
{
    QFETCH(quint64, blockSize);
    QFETCH(quint64, freeBlocks);
    QFETCH(quint64, inodes);
    QFETCH(quint64, folderInode);
    QFETCH(bool, freeKiB);
    QFETCH(qint64, value);
    simulated = {blockSize, freeBlocks, inodes, folderInode};
    const StorageSpace space = probeStorage(simulatedCard, -1);
    QVERIFY2(space.usable, "the card counts as unusable");
    QCOMPARE(qint64(remainingValue(space.blockSize, space.freeBlocks, 60, freeKiB)), value);
}

QTEST_APPLESS_MAIN(TestCounter)
#include "tst_counter.moc"
