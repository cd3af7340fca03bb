// The emulator's fixed device links under the virtual PDA's /dev: made for the run, refused
// over a stranger's file, gone after SIGTERM. Through them the real camera takes pictures of a still image and
// lives through a source that goes away.
#include "device/cameradevice.h"
#include "tools/cardmount.h"
#include "e2e/virtualpda.h"
#include "tools/testcard.h"

#include <QImage>
#include <QtTest>

#include <sys/stat.h>

namespace {

const char* const vdcLink = "/dev/orvane_vdc";
const char* const buzLink = "/dev/orvane_buz";

bool present(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}

// Colours at the quarter points of a decoded picture, as 'R', 'G', 'B', 'Y' or '?', top-left,
// top-right, bottom-left, bottom-right.
QString quadrants(const QImage& image)
{
    QString found;
    for (const QPointF f : {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75),
                            QPointF(0.75, 0.75)}) {
        const QColor c = image.pixelColor(int(image.width() * f.x()), int(image.height() * f.y()));
        const bool r = c.red() > 200, g = c.green() > 200, b = c.blue() > 200;
        const bool rOff = c.red() < 60, gOff = c.green() < 60, bOff = c.blue() < 60;
        found += r && gOff && bOff ? 'R' : rOff && g && bOff ? 'G' : rOff && gOff && b ? 'B'
               : r && g && bOff    ? 'Y'
                                   : '?';
    }
    return found;
}

// The white on the middle column reaches further above the middle than below it.
bool arrowPointsUp(const QImage& image)
{
    auto white = [&](int y) {
        const QColor c = image.pixelColor(image.width() / 2, y);
        return c.red() > 180 && c.green() > 180 && c.blue() > 180;
    };
    int first = image.height() / 2, last = first;
    while (first > 0 && white(first - 1))
        --first;
    while (last < image.height() - 1 && white(last + 1))
        ++last;
    return white(image.height() / 2) && image.height() / 2 - first > last - image.height() / 2;
}

bool startLinkedEmulator(e2e::VirtualPda& pda, const QString& source)
{
    pda.emulatorArguments = {"--source", source};
    return pda.startEmulator();
}

int framesAfter(const QStringList& lines, int from)
{
    int n = 0;
    for (int i = qMax(0, from); i < lines.size(); ++i)
        n += lines[i].startsWith("read 153600 153600");
    return n;
}

}  // namespace

class TestCardLink : public QObject {
    Q_OBJECT
private slots:
    void init();
    void linksForTheRun();
    void refusesAStrangersFile();
    void cameraPicturesOfAStill_data();
    void cameraPicturesOfAStill();
    void cameraLivesThroughALostSource();
};

void TestCardLink::init()
{
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    if (geteuid() != 0)
        QSKIP("--link needs root");
    const QString outside = e2e::outsideVirtualPda();
    if (!outside.isEmpty())
        QSKIP(qPrintable(outside));
    // The virtual PDA's /dev holds no links but the ones its tests make.
    QVERIFY(!present(vdcLink) && !present(buzLink));
}

void TestCardLink::linksForTheRun()
{
    CardMount card;
    QVERIFY(card.start({"--link"}));
    QCOMPARE(QFile::symLinkTarget(vdcLink), card.mountPath + "/vdc");
    QCOMPARE(QFile::symLinkTarget(buzLink), card.mountPath + "/buz");
    {
        CameraDevice device;  // the application's own node path
        QVERIFY(device.isOpen());
        QCOMPARE(device.readStatus(), int(CameraDevice::CardPresent));
    }
    QVERIFY(card.stop());
    QVERIFY(!present(vdcLink));
    QVERIFY(!present(buzLink));
    QVERIFY(!card.mounted());
}

void TestCardLink::refusesAStrangersFile()
{
    {
        QFile stranger(buzLink);
        QVERIFY(stranger.open(QIODevice::WriteOnly));
    }
    CardMount card;
    const bool started = card.start({"--link"});
    const bool strangerKept = present(buzLink) && !QFileInfo(buzLink).isSymLink();
    QFile::remove(buzLink);
    QVERIFY(!started);
    QVERIFY(strangerKept);
    QVERIFY(card.process.state() == QProcess::NotRunning || card.process.waitForFinished(5000));
    QVERIFY(card.process.exitCode() != 0);
    QVERIFY(!present(vdcLink));  // the link it made before finding the stranger is gone
    QVERIFY(!card.mounted());
}

void TestCardLink::cameraPicturesOfAStill_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("mirror");  // the card turned round
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("colours");

    QTest::newRow("Landscape 480x320") << QByteArray() << false << QSize(480, 320) << "RGBY";
    QTest::newRow("Portrait 480x640")
        << QByteArray("[Option]\nDispMode=1\nResolution=0\n") << false << QSize(480, 640)
        << "RGBY";
    QTest::newRow("Square 480x480")
        << QByteArray("[Option]\nDispModeMax=3\nDispMode=2\nResolution=1\n") << false
        << QSize(480, 480) << "RGBY";
    QTest::newRow("Landscape, card turned: mirrored") << QByteArray() << true << QSize(480, 320)
                                                     << "YBGR";
}

void TestCardLink::cameraPicturesOfAStill()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, mirror);
    QFETCH(QSize, size);
    QFETCH(QString, colours);
    const QString reason = e2e::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    e2e::VirtualPda pda;
    QVERIFY(pda.ready());
    const QString still = pda.dir.path() + "/still.png";
    // Proportions none of the camera's formats has.
    QVERIFY(testCardPicture(640, 480).save(still));
    QVERIFY(startLinkedEmulator(pda, "image:" + still));
    pda.writeSettings(settings);
    QVERIFY(pda.startCamera());
    QVERIFY(e2e::waitFor([&] { return framesAfter(pda.log(), 0) >= 3; }, 15000));
    if (mirror)
        QVERIFY(pda.control("orientation 1"));
    QTest::qWait(300);
    QVERIFY(pda.control("shutter"));
    const QString name = pda.picturesDir() + "/pic0001.jpg";
    QVERIFY(e2e::waitFor([&] { return QFile::exists(name); }, 10000));
    QCOMPARE(pda.terminateCamera(), 0);
    const QImage picture(name);
    QCOMPARE(picture.size(), size);
    QCOMPARE(quadrants(picture), colours);
    QCOMPARE(arrowPointsUp(picture), !mirror);
}

void TestCardLink::cameraLivesThroughALostSource()
{
    const QString reason = e2e::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    const QString launcher = QStandardPaths::findExecutable("gst-launch-1.0");
    if (launcher.isEmpty())
        QSKIP("no gst-launch-1.0 to write the video with");
    e2e::VirtualPda pda;
    QVERIFY(pda.ready());
    const QString video = pda.dir.path() + "/red.mkv";
    QProcess writer;
    writer.start(launcher, {"-q", "videotestsrc", "num-buffers=5", "pattern=red", "!",
                            "video/x-raw,format=I420,width=64,height=48,framerate=10/1", "!",
                            "matroskamux", "!", "filesink", "location=" + video});
    QVERIFY(writer.waitForFinished(20000));
    QCOMPARE(writer.exitCode(), 0);
    QVERIFY(startLinkedEmulator(pda, "video:" + video));
    if (pda.log().filter("source error").size() > 0)
        QSKIP("this build's emulator has no GStreamer");
    pda.writeSettings({});
    QVERIFY(pda.startCamera());
    QVERIFY(e2e::waitFor([&] { return framesAfter(pda.log(), 0) >= 3; }, 15000));

    QVERIFY(QFile::rename(video, video + ".away"));
    QVERIFY(e2e::waitFor([&] { return pda.log().filter("source error").size() == 1; }, 5000));
    QTest::qWait(2500);
    QVERIFY(pda.cameraRunning());
    QVERIFY(QFile::rename(video + ".away", video));
    QVERIFY(e2e::waitFor([&] { return pda.log().contains("source ok"); }, 5000));
    // The camera finds its card again and the preview goes on by itself.
    QVERIFY2(e2e::waitFor([&] {
                 const QStringList lines = pda.log();
                 return framesAfter(lines, int(lines.indexOf("source ok"))) >= 3;
             }, 10000),
             qPrintable(pda.log().mid(pda.log().indexOf("source ok")).join('\n')));
    QCOMPARE(pda.terminateCamera(), 0);
}

QTEST_GUILESS_MAIN(TestCardLink)
#include "tst_cardlink.moc"
