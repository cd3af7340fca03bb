// The emulator through a real FUSE mount, with the application's own device link as the
// client where it can be: both sides must agree on the wire.
#include "device/cameradevice.h"
#include "tools/cardmount.h"
#include "support/scene.h"
#include "support/testaccount.h"
#include "tools/testcard.h"

#include <QImage>
#include <QtTest>

#include <QCryptographicHash>
#include <QDir>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <functional>
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

QByteArray hashOf(const QImage& image)
{
    return QCryptographicHash::hash(
        QByteArrayView(image.constBits(), image.sizeInBytes()), QCryptographicHash::Md5);
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
    return true;
}

bool haveGstreamer()
{
#ifdef CARD_HAVE_GSTREAMER
    return true;
#else
    return false;
#endif
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
    void gstSourceFrames_data();
    void gstSourceFrames();
    void videoFileLoops();
    void stalledSourceRepeatsLastFrame();
    void failingSource_data();
    void failingSource();
    void sourceComesBack();
    void webcam();
    void webcamStandIn_data();
    void webcamStandIn();
    void webcamHeldThenReleased();
    void webcamUnpluggedAndBack();
    void autoWithoutWebcam();

private:
    // The card anew with these emulator arguments.
    void restartWith(const QStringList& arguments);
    // The card anew on a stand-in webcam at files/video0 with these modes; empty when it
    // cannot run here, else why not.
    QString restartWithWebcam(const QString& modes, const QString& heldFile = {});
    QString webcamNode() const { return files.path() + "/video0"; }
    QString picturePath();

    CardMount* card = nullptr;
    QTemporaryDir files;
};

void TestCardMount::restartWith(const QStringList& arguments)
{
    delete card;
    card = new CardMount;
    QVERIFY2(card->start(arguments), "the emulator did not report ready");
}

QString TestCardMount::picturePath()
{
    const QString path = files.path() + "/testcard.png";
    if (!QFile::exists(path))
        testCardPicture(300, 200).save(path);
    return path;
}

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
    QTest::addColumn<bool>("picture");  // the test card as a still image of 300x200

    for (bool picture : {false, true}) {
        const QByteArray p = picture ? " (image)" : "";
        QTest::newRow("R landscape" + p) << true << 240 << 160 << false
                                         << QList<int>{red, green, blue, yellow} << picture;
        QTest::newRow("R full image" + p) << true << 240 << 320 << false
                                          << QList<int>{red, green, blue, yellow} << picture;
        // Turned for a screen in rotation 1: the scene's right half is the frame's top.
        QTest::newRow("S direct preview" + p) << false << 160 << 240 << false
                                              << QList<int>{green, yellow, red, blue} << picture;
        QTest::newRow("R square" + p) << true << 240 << 240 << false
                                      << QList<int>{red, green, blue, yellow} << picture;
        QTest::newRow("R mirrored" + p) << true << 240 << 160 << true
                                        << QList<int>{yellow, blue, green, red} << picture;
        QTest::newRow("S mirrored" + p) << false << 160 << 240 << true
                                        << QList<int>{blue, red, yellow, green} << picture;
    }
}

void TestCardMount::framePlacement()
{
    QFETCH(bool, upright);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, mirror);
    QFETCH(QList<int>, colours);
    QFETCH(bool, picture);
    if (picture)
        restartWith({"--source", "image:" + picturePath()});
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
    if (width == height) {
        // A square view crops the picture's sides only.
    } else if (upright && !mirror) {
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

    QTest::addColumn<bool>("picture");

    QTest::newRow("256 whole field") << 256 << 36 << false;
    QTest::newRow("512 central half") << 512 << 22 << false;
    QTest::newRow("1024 central quarter") << 1024 << 0 << false;
    // The 240x320 view crops the 300x200 picture's sides: top to bottom is the same.
    QTest::newRow("256 whole field (image)") << 256 << 36 << true;
    QTest::newRow("512 central half (image)") << 512 << 22 << true;
}

void TestCardMount::zoom()
{
    QFETCH(int, zoom);
    QFETCH(int, tipPercent);
    QFETCH(bool, picture);
    if (picture)
        restartWith({"--source", "image:" + picturePath()});
    CameraDevice device(card->node("vdc").constData());
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 320, zoom));
    QVERIFY(device.readFrame(image));
    int tip = -1;
    for (int y = 0; y < 320 && tip < 0; ++y) {
        if (at(image, 120, y) == white)
            tip = y;
    }
    // A picture's pixel covers up to 3.2 frame rows at 2x.
    const int tolerance = picture ? 2 + zoom / 128 : 2;
    QVERIFY2(qAbs(tip - 320 * tipPercent / 100) <= tolerance, qPrintable(QString::number(tip)));
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

// ---- sources through GStreamer, failing sources ------------------------------------------

void TestCardMount::gstSourceFrames_data()
{
    QTest::addColumn<QString>("pipeline");
    QTest::addColumn<int>("colour");  // of every pixel; -1: frames that move

    QTest::newRow("red") << "videotestsrc pattern=red" << int(red);
    QTest::newRow("blue, small source enlarged")
        << "videotestsrc pattern=blue ! video/x-raw,width=16,height=12" << int(blue);
    QTest::newRow("ball") << "videotestsrc pattern=ball ! video/x-raw,framerate=25/1" << -1;
}

void TestCardMount::gstSourceFrames()
{
    if (!haveGstreamer())
        QSKIP("this build has no GStreamer");
    QFETCH(QString, pipeline);
    QFETCH(int, colour);
    restartWith({"--source", "gst:" + pipeline});
    CameraDevice device(card->node("vdc").constData());
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QList<QByteArray> seen;
    for (int i = 0; i < 4; ++i) {
        QVERIFY(device.readFrame(image));
        const QImage frame = image.copy(0, 0, 240, 160);
        if (colour >= 0) {
            QImage expected(240, 160, QImage::Format_RGB16);
            for (int y = 0; y < expected.height(); ++y)
                std::fill_n(reinterpret_cast<quint16*>(expected.scanLine(y)), expected.width(),
                            quint16(colour));
            QCOMPARE(frame, expected);
        }
        seen << hashOf(frame);
    }
    // Each read waits for a newer frame, so a moving picture never repeats itself.
    if (colour < 0) {
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY2(seen[i] != seen[i - 1], qPrintable(QString::number(i)));
    }
}

void TestCardMount::videoFileLoops()
{
    if (!haveGstreamer())
        QSKIP("this build has no GStreamer");
    const QString launcher = QStandardPaths::findExecutable("gst-launch-1.0");
    if (launcher.isEmpty())
        QSKIP("no gst-launch-1.0 to write the video with");
    // Six frames of raw video, no codec: the ball at six places, ten frames a second.
    const QString video = files.path() + "/ball.mkv";
    QProcess writer;
    writer.start(launcher, {"-q", "videotestsrc", "num-buffers=6", "pattern=ball", "!",
                            "video/x-raw,format=I420,width=64,height=48,framerate=10/1", "!",
                            "matroskamux", "!", "filesink", "location=" + video});
    QVERIFY(writer.waitForFinished(20000));
    QCOMPARE(writer.exitCode(), 0);
    restartWith({"--source", "video:" + video});

    CameraDevice device(card->node("vdc").constData());
    QImage image(64, 48, QImage::Format_RGB16);
    QVERIFY(device.sendGeometry(image, true, 64, 48, 256));
    QList<QByteArray> frames;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 2000) {
        QVERIFY(device.readFrame(image));
        frames << hashOf(image);
    }
    QSet<QByteArray> distinct(frames.begin(), frames.end());
    QVERIFY2(distinct.size() >= 3 && distinct.size() <= 6,
             qPrintable(QStringLiteral("%1 distinct frames").arg(distinct.size())));
    // After the sixth frame the first comes again.
    const int later = frames.indexOf(frames.first(), frames.indexOf(frames.first()) + 1);
    QVERIFY2(later > 0 && frames.mid(1, later - 1).count(frames.first()) == 0,
             "the video did not start over");
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
}

void TestCardMount::stalledSourceRepeatsLastFrame()
{
    if (!haveGstreamer())
        QSKIP("this build has no GStreamer");
    // One frame every ten seconds.
    restartWith({"--source", "gst:videotestsrc pattern=green ! video/x-raw,framerate=1/10"});
    CameraDevice device(card->node("vdc").constData());
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QVERIFY(device.readFrame(image));
    image.fill(0);
    QElapsedTimer t;
    t.start();
    QVERIFY(device.readFrame(image));
    // The last frame again, after a second rather than after the source's ten.
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(at(image, 120, 80), green);
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
}

void TestCardMount::failingSource_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("gstreamer");
    QTest::addColumn<QString>("reason");  // part of the logged reason

    QTest::newRow("no such device") << "v4l2:/dev/nonexistent" << true << "/dev/nonexistent";
    QTest::newRow("no such video") << "video:/nonexistent/clip.mkv" << true
                                   << "/nonexistent/clip.mkv";
    QTest::newRow("pipeline error") << "gst:nosuchelement" << true << "nosuchelement";
    QTest::newRow("no such image") << "image:/nonexistent/still.png" << false << "still.png";
}

void TestCardMount::failingSource()
{
    QFETCH(QString, source);
    QFETCH(bool, gstreamer);
    QFETCH(QString, reason);
    if (gstreamer && !haveGstreamer())
        QSKIP("this build has no GStreamer");
    restartWith({"--source", source});
    CameraDevice device(card->node("vdc").constData());
    QVERIFY(device.isOpen());
    QCOMPARE(device.readStatus(), 0);
    QCOMPARE(card->stateValue("status"), QByteArray("sowp"));
    const QStringList lines = card->logLines();
    QVERIFY2(!lines.isEmpty() && lines.first().startsWith("source error ")
                 && lines.first().contains(reason),
             qPrintable(lines.join('\n')));
    // Tried again every second, logged once.
    QVERIFY(waitUntil([&] { return card->stateValue("source-failures").toInt() >= 3; }, 5000));
    QCOMPARE(card->logLines().filter("source ").size(), 1);
    QVERIFY(card->stop());
}

void TestCardMount::sourceComesBack()
{
    // An image is read at each start: the card comes up absent and finds it a second later.
    const QString path = files.path() + "/later.png";
    restartWith({"--source", "image:" + path});
    CameraDevice device(card->node("vdc").constData());
    QCOMPARE(device.readStatus(), 0);
    QVERIFY2(card->logLines().value(0).startsWith("source error ")
                 && card->logLines().value(0).contains(path),
             qPrintable(card->logLines().join('\n')));
    QVERIFY(testCardPicture(300, 200).save(path));
    QVERIFY(waitUntil([&] { return device.readStatus() == int(CameraDevice::CardPresent); }, 5000));
    QCOMPARE(card->logLines().filter("source ").last(), QString("source ok"));
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QVERIFY(device.readFrame(image));
    QCOMPARE(quarterColours(image, 240, 160), (QList<int>{red, green, blue, yellow}));
}

void TestCardMount::webcam()
{
    if (!haveGstreamer())
        QSKIP("this build has no GStreamer");
    const QStringList devices = QDir("/dev").entryList({"video*"}, QDir::System);
    if (devices.isEmpty())
        QSKIP("no /dev/video* on this machine");
    restartWith({"--source", "v4l2:/dev/" + devices.first()});
    CameraDevice device(card->node("vdc").constData());
    if (device.readStatus() != int(CameraDevice::CardPresent))
        QSKIP(qPrintable("/dev/" + devices.first() + " gives no frames: "
                         + card->logLines().join(' ')));
    QImage image(480, 640, QImage::Format_RGB16);
    image.fill(0x1234);
    QVERIFY(device.sendGeometry(image, true, 480, 640, 256));
    QVERIFY(device.readFrame(image));
    QVERIFY(at(image, 240, 320) != 0x1234);
}

QString TestCardMount::restartWithWebcam(const QString& modes, const QString& heldFile)
{
    if (!haveGstreamer())
        return QStringLiteral("this build has no GStreamer");
    QFile node(webcamNode());
    if (!node.exists() && !node.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot make ") + webcamNode();
    delete card;
    card = new CardMount;
    // By name through the library path: LD_PRELOAD splits at blanks.
    const QFileInfo shim(QStringLiteral(WEBCAM_SHIM_LIBRARY));
    card->environment.insert("LD_PRELOAD", shim.fileName());
    card->environment.insert("LD_LIBRARY_PATH", shim.path());
    card->environment.insert("WEBCAM_SHIM", webcamNode() + '=' + modes);
    if (!heldFile.isEmpty())
        card->environment.insert("WEBCAM_SHIM_HELD", heldFile);
    if (!card->start({"--source", "v4l2:" + webcamNode()}))
        return QStringLiteral("the emulator did not report ready");
    return {};
}

// GStreamer's own v4l2src on a webcam at the Video4Linux interface: the mode taken for the
// card, and the picture upright in the preview and in the largest capture, either way up.
void TestCardMount::webcamStandIn_data()
{
    QTest::addColumn<QString>("modes");
    QTest::addColumn<QString>("mode");  // as logged

    QTest::newRow("laptop webcam") << "laptop" << "YUYV 640x480 30/1";
    QTest::newRow("cheap, raw only") << "cheap" << "YUYV 640x480 30/1";
    QTest::newRow("motion JPEG only") << "mjpeg1080" << "MJPG 640x480 30/1";
    QTest::newRow("1080p motion JPEG alone") << "MJPG 1920x1080@30" << "MJPG 1920x1080 30/1";
    QTest::newRow("720p raw at 7.5") << "YUYV 1280x720@7.5" << "YUYV 1280x720 15/2";
}

void TestCardMount::webcamStandIn()
{
    QFETCH(QString, modes);
    QFETCH(QString, mode);
    const QString reason = restartWithWebcam(modes);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    CameraDevice device(card->node("vdc").constData());
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
    QCOMPARE(card->logLines().filter("source ").value(0),
             "source v4l2:" + webcamNode() + ' ' + mode);
    struct Shape {
        int width, height;
    };
    for (const Shape shape : {Shape{240, 160}, Shape{640, 480}, Shape{480, 640}}) {
        QImage image(shape.width, shape.height, QImage::Format_RGB16);
        image.fill(0x1234);
        QVERIFY(device.sendGeometry(image, true, shape.width, shape.height, 256));
        QVERIFY(device.readFrame(image));
        const QString problem = sceneProblem(image.copy(0, 0, shape.width, shape.height));
        QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("%1x%2: %3")
                                                   .arg(shape.width).arg(shape.height).arg(problem)));
    }
}

// Another program holds the webcam: the card is absent and says why; once it lets go the
// card finds the webcam by itself.
void TestCardMount::webcamHeldThenReleased()
{
    const QString held = files.path() + "/held";
    QFile holder(held);
    QVERIFY(holder.open(QIODevice::WriteOnly));
    const QString reason = restartWithWebcam("laptop", held);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    CameraDevice device(card->node("vdc").constData());
    QCOMPARE(device.readStatus(), 0);
    const QStringList errors = card->logLines().filter("source error");
    QVERIFY2(errors.size() == 1 && errors.first().contains("busy"),
             qPrintable(card->logLines().join('\n')));
    QVERIFY(holder.remove());
    QVERIFY(waitUntil([&] { return device.readStatus() == int(CameraDevice::CardPresent); }, 5000));
    QCOMPARE(card->logLines().filter("source ").last(), QString("source ok"));
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QVERIFY(device.readFrame(image));
    QCOMPARE(sceneProblem(image.copy(0, 0, 240, 160)), QString());
}

// Unplugged while streaming: the card goes absent; plugged back, the same emulator
// delivers again.
void TestCardMount::webcamUnpluggedAndBack()
{
    const QString reason = restartWithWebcam("laptop");
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    CameraDevice device(card->node("vdc").constData());
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QVERIFY(device.readFrame(image));
    QVERIFY(QFile::remove(webcamNode()));
    QVERIFY(waitUntil([&] { return device.readStatus() == 0; }, 5000));
    QVERIFY2(card->logLines().filter("source error").size() == 1,
             qPrintable(card->logLines().join('\n')));
    QFile node(webcamNode());
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    QVERIFY(waitUntil([&] { return device.readStatus() == int(CameraDevice::CardPresent); }, 5000));
    QCOMPARE(card->logLines().filter("source ").last(), QString("source ok"));
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QVERIFY(device.readFrame(image));
    QCOMPARE(sceneProblem(image.copy(0, 0, 240, 160)), QString());
}

// --source auto on a machine without a webcam: the test card, and the log says so.
void TestCardMount::autoWithoutWebcam()
{
    if (!QDir("/dev").entryList({"video*"}, QDir::System).isEmpty())
        QSKIP("this machine has Video4Linux devices; auto may take one");
    restartWith({"--source", "auto"});
    QCOMPARE(card->logLines().value(0), QString("source auto pattern"));
    CameraDevice device(card->node("vdc").constData());
    QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
    QImage image = previewImage();
    QVERIFY(device.sendGeometry(image, true, 240, 160, 256));
    QVERIFY(device.readFrame(image));
    QCOMPARE(quarterColours(image, 240, 160), (QList<int>{red, green, blue, yellow}));
}

QTEST_GUILESS_MAIN(TestCardMount)
#include "tst_cardmount.moc"
