// The remaining-shots arithmetic: rounding, 64-bit products and the display limit.
#include "storage/counter.h"

#include <QTest>

class TestCounter : public QObject {
    Q_OBJECT
private slots:
    void remaining_data();
    void remaining();
    void limit_data();
    void limit();
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

QTEST_APPLESS_MAIN(TestCounter)
#include "tst_counter.moc"
