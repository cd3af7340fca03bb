// The emulator through a real FUSE mount, with the application's own device link as the
// client where it can be: both sides must agree on the wire.
#include "device/cameradevice.h"
#include "tools/cardmount.h"
#include "support/testaccount.h"

#include <QImage>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <thread>

namespace {

constexpr quint16 red = 0xF800, green = 0x07E0, blue = 0x001F, yellow = 0xFFE0, white = 0xFFFF;

quint16 at(const QImage& image, int x, int y)
{
    return reinterpret_cast<const quint16*>(image.constScanLine(y))[x];
}

QList<int> quarterColours(const QImage& image, int w, int h)
{
    const int x0 = w / 4, x1 = w - 1 - w / 4, y0 = h / 4, y1 = h - 1 - h / 4;
    return {at(image, x0, y0), at(image, x1, y0), at(image, x0, y1), at(image, x1, y1)};
}

QImage previewImage()
{
    QImage image(240, 320, QImage::Format_RGB16);
    image.fill(0x1234);
    return image;
}

}  // namespace

class TestCardMount : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void statusPerState_data();
    void statusPerState();
    void shutterClearedByB();
    void framePlacement_data();
    void framePlacement();
    void zoom_data();
    void zoom();
    void oneReadIsOneRequest();
    void shortAndFailedReads();
    void failedWrites();
    void unplugAndPlug();
    void malformedCommands();
    void malformedControl();
    void applicationSequenceInLog();
    void buzzer();
    void blockingReadDoesNotBlockControl();
    void cleanExitOnSigterm();
    void nodesBelongToTheirOwner_data();
    void nodesBelongToTheirOwner();

private:
    CardMount* card = nullptr;
};

void TestCardMount::init()
{
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY2(QFile::exists(CardMount::emulatorPath()), qPrintable(CardMount::emulatorPath()));
    card = new CardMount;
    QVERIFY2(card->start(), "the emulator did not report ready");
}

void TestCardMount::cleanup()
{
    delete card;
    card = nullptr;
}

void TestCardMount::statusPerState_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<int>("status");

    QTest::newRow("fresh") << QByteArray() << 0x08;
    QTest::newRow("shutter") << QByteArray("shutter\n") << 0x09;
    QTest::newRow("orientation") << QByteArray("orientation 1\n") << 0x0a;
    QTest::newRow("busy") << QByteArray("busy 1\n") << 0x0c;
    QTest::newRow("absent") << QByteArray("present 0\n") << 0x00;
    QTest::newRow("all at once") << QByteArray("shutter\norientation 1\nbusy 1\n") << 0x0f;
    QTest::newRow("busy cleared") << QByteArray("busy 1\nbusy 0\n") << 0x08;
    QTest::newRow("short status") << QByteArray("shutter\norientation 1\nshort-read 2\n") << 0x13;
    QTest::newRow("failed status") << QByteArray("fail-reads 1\n") << 0x10;
}

void TestCardMount::statusPerState()
{
    QFETCH(QByteArray, commands);
    QFETCH(int, status);
    CameraDevice device(card->node("vdc").constData());
    QVERIFY(device.isOpen());
    if (!commands.isEmpty())
        QVERIFY(card->control(commands));
    QCOMPARE(device.readStatus(), status);
}

void TestCardMount::shutterClearedByB()
{
    CameraDevice device(card->node("vdc").constData());
    QVERIFY(card->control("shutter"));
    QCOMPARE(device.readStatus() & CameraDevice::ShutterPressed, int(CameraDevice::ShutterPressed));
    QCOMPARE(device.readStatus() & CameraDevice::ShutterPressed, int(CameraDevice::ShutterPressed));
    device.sendB();
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
}

void TestCardMount::framePlacement_data()
{
    QTest::addColumn<bool>("upright");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("mirror");
    QTest::addColumn<QList<int>>("colours");

    QTest::newRow("R landscape") << true << 240 << 160 << false
                                 << QList<int>{red, green, blue, yellow};
    QTest::newRow("R full image") << true << 240 << 320 << false
                                  << QList<int>{red, green, blue, yellow};
    // Turned for a screen in rotation 1: the scene's right half is the frame's top.
    QTest::newRow("S direct preview") << false << 160 << 240 << false
                                      << QList<int>{green, yellow, red, blue};
    QTest::newRow("R mirrored") << true << 240 << 160 << true
                                << QList<int>{yellow, blue, green, red};
    QTest::newRow("S mirrored") << false << 160 << 240 << true
                                << QList<int>{blue, red, yellow, green};
}

void TestCardMount::framePlacement()
{
    QFETCH(bool, upright);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, mirror);
    QFETCH(QList<int>, colours);
    CameraDevice device(card->node("vdc").constData());
    if (mirror)
        device.setMode(-1, -1, 1, 1);
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, upright, width, height, 256));
    QVERIFY(device.readFrame(image));
    QCOMPARE(quarterColours(image, width, height), colours);
    // Outside the frame the card writes zeros, never past the rows it was given.
    if (width < image.width())
        QCOMPARE(at(image, width, 0), quint16(0));
    if (height < image.height())
        QCOMPARE(at(image, 0, height), quint16(0));
    // The arrow, seen upright, points up: white below its tip on the middle line.
    if (upright && !mirror) {
        QCOMPARE(at(image, width / 2, height * 40 / 100), white);
        QVERIFY(at(image, width / 2, height * 33 / 100) != white);
    } else if (!upright && !mirror) {
        // The middle line of the scene is the frame's middle row; up is to the left.
        QCOMPARE(at(image, width * 40 / 100, height / 2), white);
        QVERIFY(at(image, width * 33 / 100, height / 2) != white);
    }
}

void TestCardMount::zoom_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("tipPercent");  // the arrow's tip on the middle column

    QTest::newRow("256 whole field") << 256 << 36;
    QTest::newRow("512 central half") << 512 << 22;
    QTest::newRow("1024 central quarter") << 1024 << 0;
}

void TestCardMount::zoom()
{
    QFETCH(int, zoom);
    QFETCH(int, tipPercent);
    CameraDevice device(card->node("vdc").constData());
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 320, zoom));
    QVERIFY(device.readFrame(image));
    int tip = -1;
    for (int y = 0; y < 320 && tip < 0; ++y) {
        if (at(image, 120, y) == white)
            tip = y;
    }
    QVERIFY2(qAbs(tip - 320 * tipPercent / 100) <= 2, qPrintable(QString::number(tip)));
    QCOMPARE(quarterColours(image, 240, 320), (QList<int>{red, green, blue, yellow}));
}

void TestCardMount::oneReadIsOneRequest()
{
    CameraDevice device(card->node("vdc").constData());
    QImage image(640, 480, QImage::Format_RGB16);
    QCOMPARE(image.sizeInBytes(), qsizetype(614400));
    QVERIFY(device.sendGeometry(image, true, 640, 480, 256));
    card->clearLog();
    QVERIFY(device.readFrame(image));
    const QStringList lines = card->logLines();
    QCOMPARE(lines, QStringList({"write M=0", "read 614400 614400", "write M=1"}));
    QCOMPARE(quarterColours(image, 640, 480), (QList<int>{red, green, blue, yellow}));
}

void TestCardMount::shortAndFailedReads()
{
    Fd fd(::open(card->node("vdc").constData(), O_RDWR));
    QVERIFY(fd.get() >= 0);
    QByteArray buffer(153600, 'x');
    QVERIFY(card->control("short-read 1000\n"));
    QCOMPARE(::read(fd.get(), buffer.data(), 153600), ssize_t(1000));
    QCOMPARE(::read(fd.get(), buffer.data(), 153600), ssize_t(153600));  // once only
    QVERIFY(card->control("fail-reads 2\n"));
    errno = 0;
    QCOMPARE(::read(fd.get(), buffer.data(), 153600), ssize_t(-1));
    QCOMPARE(errno, EIO);
    QCOMPARE(::read(fd.get(), buffer.data(), 4), ssize_t(-1));
    QCOMPARE(::read(fd.get(), buffer.data(), 4), ssize_t(4));
    const QStringList lines = card->logLines();
    QVERIFY(lines.contains("read 153600 1000"));
    QCOMPARE(lines.count("read 153600 EIO"), 1);
    QCOMPARE(lines.count("read 4 EIO"), 1);
}

void TestCardMount::failedWrites()
{
    CameraDevice device(card->node("vdc").constData());
    QVERIFY(card->control("fail-writes 1\n"));
    QVERIFY(!device.writeBytes("M=3", 3));
    QCOMPARE(card->stateValue("mode"), QByteArray("1"));
    QVERIFY(device.writeBytes("M=3", 3));
    QCOMPARE(card->stateValue("mode"), QByteArray("3"));
}

void TestCardMount::unplugAndPlug()
{
    Fd old(::open(card->node("vdc").constData(), O_RDWR));
    QVERIFY(old.get() >= 0);
    QVERIFY(card->control("unplug\n"));
    errno = 0;
    QCOMPARE(::open(card->node("vdc").constData(), O_RDWR), -1);
    QCOMPARE(errno, ENODEV);
    char word[4];
    QCOMPARE(::read(old.get(), word, 4), ssize_t(-1));
    QCOMPARE(errno, EIO);
    QCOMPARE(::write(old.get(), "M=1", 3), ssize_t(-1));
    QCOMPARE(errno, EIO);

    QVERIFY(card->control("plug\n"));
    CameraDevice device(card->node("vdc").constData());
    QVERIFY(device.isOpen());
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
    // The descriptor of the card that was taken out stays dead.
    QCOMPARE(::read(old.get(), word, 4), ssize_t(-1));
    QVERIFY(card->logLines().contains("open ENODEV"));
}

void TestCardMount::malformedCommands()
{
    CameraDevice device(card->node("vdc").constData());
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    const QByteArray bad[] = {"M=", "R=1,2", "R=-5,10,256,480", "R=640,480,256,1281",
                              "S=240,160,256,479",
                              "R=240,160,256,480 ", "M=1\n", "Q", "R=240,160,256,480,7"};
    for (const QByteArray& b : bad) {
        // Swallowed like the driver does: the write is complete, and nothing changes.
        QVERIFY2(device.writeBytes(b.constData(), int(b.size())), b.constData());
    }
    QCOMPARE(card->stateValue("geometry"), QByteArray("R 240 160 256 480"));
    QCOMPARE(card->stateValue("ignored"), QByteArray::number(int(std::size(bad))));
    QVERIFY(device.readFrame(image));
    QCOMPARE(quarterColours(image, 240, 160), (QList<int>{red, green, blue, yellow}));
    QCOMPARE(at(image, 0, 160), quint16(0));  // still 160 rows: the last good geometry
    QVERIFY(card->logLines().contains("write R=1,2 ignored syntax"));
    QVERIFY(card->logLines().contains("write M=1\\x0a ignored trailing"));
}

void TestCardMount::malformedControl()
{
    Fd fd(::open(card->node("control").constData(), O_WRONLY));
    QVERIFY(fd.get() >= 0);
    const QByteArray bad[] = {"bogus\n", "busy 2\n", "busy\n", "shutter now\n",
                              "busy 1\nfail-reads x\n", "frame-ms -3\n"};
    for (const QByteArray& b : bad) {
        errno = 0;
        QCOMPARE(::write(fd.get(), b.constData(), size_t(b.size())), ssize_t(-1));
        QCOMPARE(errno, EINVAL);
    }
    // Nothing of a refused write was applied, not even its good first line.
    QCOMPARE(card->stateValue("status"), QByteArray("sowP"));
    QVERIFY(card->logLines().contains("control busy\\x201\\x0afail-reads\\x20x EINVAL"));
}

void TestCardMount::applicationSequenceInLog()
{
    {
        CameraDevice device(card->node("vdc").constData());
        device.readStatus();
        QImage image = previewImage();
        device.sendGeometry(image, false, 160, 240, 256);
        device.readFrame(image);
        device.sendC();
    }
    const QStringList lines = card->logLinesUntil("close");
    QCOMPARE(lines, QStringList({"open", "write M=1", "read 4 4", "write S=160,240,256,480",
                                 "write M=0", "read 153600 153600", "write M=1", "write C",
                                 "write M=0", "close"}));
}

void TestCardMount::buzzer()
{
    Fd fd(::open(card->node("buz").constData(), O_RDWR | O_NONBLOCK));
    QVERIFY(fd.get() >= 0);
    QCOMPARE(::ioctl(fd.get(), 0x5680, 2), 0);
    QCOMPARE(::ioctl(fd.get(), 0x5680, 2), 0);
    errno = 0;
    QCOMPARE(::ioctl(fd.get(), 0x5680, 3), -1);
    QCOMPARE(errno, EINVAL);
    QCOMPARE(::ioctl(fd.get(), 0x5681, 2), -1);
    QCOMPARE(card->stateValue("buzzer"), QByteArray("2"));
    const QStringList lines = card->logLines();
    QCOMPARE(lines.count("ioctl 0x5680 2"), 2);
    QVERIFY(lines.contains("ioctl 0x5680 3 EINVAL"));
    // The buzzer's own open and close are no camera node lines.
    QVERIFY(!lines.contains("open"));
}

void TestCardMount::blockingReadDoesNotBlockControl()
{
    QVERIFY(card->control("frame-ms 800\n"));
    Fd fd(::open(card->node("vdc").constData(), O_RDWR));
    QVERIFY(fd.get() >= 0);
    std::atomic<qint64> readMs{-1};
    std::thread reader([&] {
        QElapsedTimer t;
        t.start();
        QByteArray frame(153600, 0);
        if (::read(fd.get(), frame.data(), size_t(frame.size())) == frame.size())
            readMs = t.elapsed();
    });
    QTest::qWait(100);
    QElapsedTimer t;
    t.start();
    const bool ok = card->control("busy 1\n");
    const qint64 controlMs = t.elapsed();
    // A second descriptor: threads sharing one are serialised by the kernel's file
    // position lock before the card sees anything.
    Fd other(::open(card->node("vdc").constData(), O_RDWR));
    char word[4];
    const ssize_t n = ::read(other.get(), word, 4);  // status is never held up by a frame
    const qint64 statusMs = t.elapsed();
    reader.join();
    QVERIFY(ok);
    QCOMPARE(n, ssize_t(4));
    QCOMPARE(word[2], 'W');
    QVERIFY2(controlMs < 300, qPrintable(QString::number(controlMs)));
    QVERIFY2(statusMs < 300, qPrintable(QString::number(statusMs)));
    QVERIFY2(readMs >= 700, qPrintable(QString::number(readMs)));
}

void TestCardMount::cleanExitOnSigterm()
{
    {
        // A descriptor still open at exit must not keep the mount behind.
        Fd fd(::open(card->node("vdc").constData(), O_RDWR));
        QVERIFY(fd.get() >= 0);
        QVERIFY(card->mounted());
        QVERIFY(card->stop());
    }
    QVERIFY(!card->mounted());
}

// Like a real camera node: the card's user and group may open vdc and buz, the operator
// alone control, and the kernel refuses everyone else before the card sees anything.
void TestCardMount::nodesBelongToTheirOwner_data()
{
    QTest::addColumn<bool>("asOwner");  // else as nobody
    QTest::addColumn<QString>("node");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<bool>("allowed");

    const QStringList frame{"write", "R=240,160,256,480", "write", "M=0", "frame", "76800"};
    const QStringList buzz{"ioctl", "0x5680", "2"};
    const QStringList press{"write", "shutter"};
    QTest::newRow("owner reads a frame") << true << "vdc" << frame << true;
    QTest::newRow("owner sounds the buzzer") << true << "buz" << buzz << true;
    QTest::newRow("owner: control is the operator's") << true << "control" << press << false;
    QTest::newRow("nobody: vdc") << false << "vdc" << frame << false;
    QTest::newRow("nobody: buz") << false << "buz" << buzz << false;
    QTest::newRow("nobody: control") << false << "control" << press << false;
}

void TestCardMount::nodesBelongToTheirOwner()
{
    QFETCH(bool, asOwner);
    QFETCH(QString, node);
    QFETCH(QStringList, operations);
    QFETCH(bool, allowed);

    if (::geteuid() != 0)
        QSKIP("handing the card to another account and acting as it needs root");
    testaccount::Account owner;
    if (!testaccount::lookUp(owner))
        QSKIP("no account orvane-test (the test_account fixture makes it)");
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || QStandardPaths::findExecutable("setpriv").isEmpty())
        QSKIP("no account nobody or no setpriv");
    const uid_t nobodyUid = nobody->pw_uid;
    const gid_t nobodyGid = nobody->pw_gid;
    const group* video = ::getgrnam("video");
    const gid_t nodeGroup = video ? video->gr_gid : owner.gid;

    delete card;
    card = new CardMount;
    QVERIFY(card->start({"--owner", testaccount::name}));
    // Both accounts reach the mount through the test's private folder.
    QCOMPARE(::chmod(QFile::encodeName(card->dir.path()).constData(), 0711), 0);

    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(card->mountPath).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0755));
    const QByteArray path = card->node(node.toLatin1().constData());
    QCOMPARE(::stat(path.constData(), &st), 0);
    if (node == "control") {
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        QCOMPARE(st.st_uid, ::getuid());
    } else {
        QCOMPARE(st.st_mode & 07777, mode_t(0660));
        QCOMPARE(st.st_uid, owner.uid);
        QCOMPARE(st.st_gid, nodeGroup);
    }

    QProcess client;
    client.setProgram("setpriv");
    client.setArguments(testaccount::setprivAs(asOwner ? owner.uid : nobodyUid,
                                               asOwner ? owner.gid : nobodyGid)
                        + QStringList{qEnvironmentVariable("CAMERA_BUILD_DIR")
                                          + "/bin/camera-card-client",
                                      QString::fromLocal8Bit(path)}
                        + operations);
    client.start();
    QVERIFY(client.waitForFinished(10000));
    const QByteArray out = client.readAllStandardOutput();
    const QByteArray err = client.readAllStandardError();
    if (allowed) {
        QVERIFY2(client.exitCode() == 0, err.constData());
        if (node == "vdc") {
            QCOMPARE(out.size(), 76800);
            QVERIFY(card->logLines().contains("read 76800 76800"));
        } else {
            QCOMPARE(card->logLines(), QStringList{"ioctl 0x5680 2"});
        }
    } else {
        QCOMPARE(client.exitCode(), 1);
        QVERIFY2(err.contains(std::strerror(EACCES)), err.constData());
        QCOMPARE(card->logLines(), QStringList());
        QCOMPARE(card->stateValue("buzzer"), QByteArray("0"));
        QCOMPARE(card->stateValue("status"), QByteArray("sowP"));
    }
}

QTEST_GUILESS_MAIN(TestCardMount)
#include "tst_cardmount.moc"
