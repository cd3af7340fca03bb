// The emulator's fixed device links under /dev: made for the run, refused over a stranger's
// file, gone after SIGTERM.
#include "device/cameradevice.h"
#include "tools/cardmount.h"

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

}  // namespace

class TestCardLink : public QObject {
    Q_OBJECT
private slots:
    void init();
    void linksForTheRun();
    void refusesAStrangersFile();
};

void TestCardLink::init()
{
    const QString reason = CardMount::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    if (geteuid() != 0)
        QSKIP("--link needs root");
    if (present(vdcLink) || present(buzLink))
        QSKIP("/dev/orvane_vdc or /dev/orvane_buz is in use here");
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

QTEST_GUILESS_MAIN(TestCardLink)
#include "tst_cardlink.moc"
