// The camera device link against the card emulator: the exact bytes of every command,
// the order around a frame read, the status word and every failure path.
#include "device/cameradevice.h"
#include "tools/cardmount.h"

#include <QImage>
#include <QTest>

#include <memory>

class TestDevice : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void constructionAndDestruction();
    void setModeWritesOnlyChanges_data();
    void setModeWritesOnlyChanges();
    void geometryCommands_data();
    void geometryCommands();
    void frameReadIsWrappedInModeCommands();
    void emptyImageReadsNothing();
    void statusWord_data();
    void statusWord();
    void shortStatusReadKeepsDeliveredBytes();
    void failedWriteIsNotResent();
    void closedDevice();
    void missingNode();
    void unpluggedCardFailsEveryTransfer();

private:
    QStringList linesAfterOpen();
    std::unique_ptr<CardMount> card;
    QByteArray nodePath;
};

void TestDevice::init()
{
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    card = std::make_unique<CardMount>();
    QVERIFY(card->start());
    nodePath = card->node("vdc");
}

void TestDevice::cleanup()
{
    card.reset();
}

QStringList TestDevice::linesAfterOpen()
{
    QStringList lines;
    for (const QString& line : card->logLines()) {
        if (line.startsWith("write") || line.startsWith("read") || line == "open" || line == "close")
            lines.append(line);
    }
    return lines;
}

void TestDevice::constructionAndDestruction()
{
    {
        CameraDevice device(nodePath.constData());
        QVERIFY(device.isOpen());
        QCOMPARE(device.mode(), 1);
    }
    QCOMPARE(card->logLinesUntil("close"), QStringList({"open", "write M=1", "write M=0", "close"}));
}

void TestDevice::setModeWritesOnlyChanges_data()
{
    QTest::addColumn<QList<int>>("calls"); // groups of four arguments
    QTest::addColumn<QStringList>("written");
    QTest::newRow("all unchanged") << QList<int>{-1, -1, -1, -1} << QStringList();
    QTest::newRow("same value") << QList<int>{1, -1, -1, -1} << QStringList();
    QTest::newRow("mirror on") << QList<int>{-1, -1, 1, 1} << QStringList{"write M=13"};
    QTest::newRow("mirror, then frame bit off and on")
        << QList<int>{-1, -1, 1, 1, 0, -1, -1, -1, 1, -1, -1, -1}
        << QStringList{"write M=13", "write M=12", "write M=13"};
    QTest::newRow("slow capture with any positive value") << QList<int>{-1, 7, -1, -1} << QStringList{"write M=3"};
    QTest::newRow("everything") << QList<int>{1, 1, 1, 1, 0, 0, 0, 0}
                                << QStringList{"write M=15", "write M=0"};
}

void TestDevice::setModeWritesOnlyChanges()
{
    QFETCH(QList<int>, calls);
    QFETCH(QStringList, written);
    CameraDevice device(nodePath.constData());
    for (int i = 0; i + 3 < calls.size(); i += 4)
        QVERIFY(device.setMode(calls[i], calls[i + 1], calls[i + 2], calls[i + 3]));
    device.close();
    const QStringList lines = card->logLinesUntil("close");
    QCOMPARE(lines.mid(2, lines.size() - 3), written);
}

void TestDevice::geometryCommands_data()
{
    QTest::addColumn<QSize>("image");
    QTest::addColumn<bool>("upright");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QString>("line");
    QTest::newRow("window preview") << QSize(240, 320) << true << 256 << "write R=240,160,256,480";
    QTest::newRow("direct preview") << QSize(320, 240) << false << 256 << "write S=160,240,256,640";
    QTest::newRow("zoomed") << QSize(320, 240) << false << 1024 << "write S=160,240,1024,640";
}

void TestDevice::geometryCommands()
{
    QFETCH(QSize, image);
    QFETCH(bool, upright);
    QFETCH(int, zoom);
    QFETCH(QString, line);
    QImage picture(image, QImage::Format_RGB16);
    CameraDevice device(nodePath.constData());
    const int w = upright ? 240 : 160;
    const int h = upright ? 160 : 240;
    QVERIFY(device.sendGeometry(picture, upright, w, h, zoom));
    QVERIFY(device.sendB());
    QVERIFY(device.sendC());
    device.close();
    QCOMPARE(card->logLinesUntil("close").mid(2), QStringList({line, "write B", "write C", "close"}));
}

void TestDevice::frameReadIsWrappedInModeCommands()
{
    QImage image(240, 320, QImage::Format_RGB16);
    image.fill(0);
    CameraDevice device(nodePath.constData());
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QVERIFY(device.readFrame(image));
    device.close();
    QCOMPARE(card->logLinesUntil("close").mid(2),
             QStringList({"write R=240,160,256,480", "write M=0", "read 153600 153600", "write M=1", "close"}));
    // The card filled the frame: its top-left quadrant is red.
    QCOMPARE(image.pixelColor(60, 40), QColor(255, 0, 0));
}

void TestDevice::emptyImageReadsNothing()
{
    QImage empty;
    CameraDevice device(nodePath.constData());
    QVERIFY(!device.readFrame(empty));
    QImage flat(240, 0, QImage::Format_RGB16);
    QVERIFY(device.sendGeometry(flat, true, 1, 1, 256));
    device.close();
    const QStringList lines = card->logLinesUntil("close").mid(2);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.mid(0, 2), QStringList({"write M=0", "write M=1"}));
    QVERIFY2(lines[2].startsWith("write R=1,1,256,0"), qPrintable(lines[2]));
}

void TestDevice::statusWord_data()
{
    QTest::addColumn<QByteArrayList>("controls");
    QTest::addColumn<int>("status");
    QTest::newRow("present only") << QByteArrayList() << 0x08;
    QTest::newRow("all set") << QByteArrayList{"shutter", "orientation 1", "busy 1"} << 0x0F;
    QTest::newRow("orientation and present") << QByteArrayList{"orientation 1"} << 0x0A;
    QTest::newRow("absent") << QByteArrayList{"present 0"} << 0x00;
    QTest::newRow("failed read") << QByteArrayList{"fail-reads 1"} << 0x10;
}

void TestDevice::statusWord()
{
    QFETCH(QByteArrayList, controls);
    QFETCH(int, status);
    CameraDevice device(nodePath.constData());
    for (const QByteArray& command : controls)
        QVERIFY(card->control(command + '\n'));
    QCOMPARE(device.readStatus(), status);
}

void TestDevice::shortStatusReadKeepsDeliveredBytes()
{
    CameraDevice device(nodePath.constData());
    QVERIFY(card->control("shutter\n"));
    QVERIFY(card->control("orientation 1\n"));
    QVERIFY(card->control("short-read 2\n"));
    QCOMPARE(device.readStatus(), 0x13);
    QCOMPARE(device.readStatus(), 0x0B); // no retry was owed: the next read is whole
}

void TestDevice::failedWriteIsNotResent()
{
    CameraDevice device(nodePath.constData());
    QVERIFY(card->control("fail-writes 1\n"));
    QVERIFY(device.setMode(-1, 1, -1, -1)); // fails on the wire, but is decided
    QCOMPARE(device.mode(), 3);
    QVERIFY(device.setMode(-1, 1, -1, -1)); // same value: nothing is sent again
    QImage image(240, 320, QImage::Format_RGB16);
    QVERIFY(card->control("fail-writes 1\n"));
    QVERIFY(!device.sendGeometry(image, true, 240, 160, 256));
    device.close();
    const QStringList writes = card->logLinesUntil("close").filter(QRegularExpression("^write"));
    QCOMPARE(writes.filter(QRegularExpression("^write M=3")).size(), 1);
    QCOMPARE(writes.filter(QRegularExpression("^write R=240,160,256,480")).size(), 1);
}

void TestDevice::closedDevice()
{
    CameraDevice device(nodePath.constData());
    QVERIFY(device.close());
    QVERIFY(!device.isOpen());
    QVERIFY(device.close());
    char buffer[4];
    QVERIFY(!device.readBytes(buffer, 4));
    QVERIFY(!device.writeBytes("B", 1));
    QCOMPARE(device.readStatus(), 0x10);
    QVERIFY(device.setMode(-1, 1, -1, -1)); // decided, nothing sent
    QCOMPARE(device.mode(), 3);
    QTest::qWait(50);
    QCOMPARE(card->logLines(), QStringList({"open", "write M=1", "close"}));
}

void TestDevice::missingNode()
{
    const QByteArray missing = card->dir.filePath("absent").toLocal8Bit();
    CameraDevice device(missing.constData());
    QVERIFY(!device.isOpen());
    QCOMPARE(device.mode(), 1);
    QCOMPARE(device.readStatus(), 0x10);
    QImage image(240, 320, QImage::Format_RGB16);
    QVERIFY(!device.readFrame(image));
    QVERIFY(!device.readBytes(image.bits(), 0));
}

void TestDevice::unpluggedCardFailsEveryTransfer()
{
    CameraDevice device(nodePath.constData());
    QVERIFY(card->control("unplug\n"));
    QCOMPARE(device.readStatus(), 0x10);
    QImage image(240, 320, QImage::Format_RGB16);
    QVERIFY(!device.readFrame(image));
    CameraDevice again(nodePath.constData());
    QVERIFY(!again.isOpen());
    QVERIFY(card->control("plug\n"));
    CameraDevice back(nodePath.constData());
    QVERIFY(back.isOpen());
    QCOMPARE(back.readStatus(), 0x08);
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
