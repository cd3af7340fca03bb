// The real camera binary in a desktop session: the screen saver held off over the session
// bus, and a second start bringing the first to the front. Each case is one run of the
// application on its own virtual PDA (see virtualpda.h).
#include "e2e/camerarun.h"
#include "e2e/screensaverservice.h"

#include <QImage>
#include <QtTest>

using namespace e2e;

class TestE2eSession : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void screenSaverHeld_data();
    void screenSaverHeld();
    void secondStartRaisesFirst();
};

void TestE2eSession::initTestCase()
{
    const QString reason = cannotRun();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

// ---- at home in a desktop session ------------------------------------------------------

namespace {

// What the environment stand-in reports while it runs with its debug output on.
const QByteArray platformDebug = "pda.application.debug=true";
const QByteArray raisedLine = "raise(): camera brought to the front";

}  // namespace

void TestE2eSession::screenSaverHeld_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("power changes, then SIGTERM: released by the camera") << false;
    QTest::newRow("SIGKILL: released with the camera's bus connection") << true;
}

void TestE2eSession::screenSaverHeld()
{
    QFETCH(bool, killed);
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");
    ScreenSaverService screenSaver;
    QVERIFY(screenSaver.start());

    VirtualPda pda;
    QVERIFY(startPreview(pda));
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 1; }, 3000));
    QCOMPARE(screenSaver.events, QStringList{"Inhibit camera 1"});
    QVERIFY(!screenSaver.lastReason.isEmpty());

    if (killed) {
        ::kill(pid_t(pda.camera.processId()), SIGKILL);
        QVERIFY(pda.camera.waitForFinished(5000));
        QVERIFY(waitFor([&] { return screenSaver.events.size() == 2; }, 3000));
        QCOMPARE(screenSaver.events, (QStringList{"Inhibit camera 1", "dropped 1"}));
        return;
    }

    // On a low battery the screen saver may work again; back on mains it is held off anew.
    QVERIFY(QDir().mkpath(pda.power + "/BAT0"));
    VirtualPda::writeFile(pda.power + "/BAT0/type", "Battery\n");
    VirtualPda::writeFile(pda.power + "/BAT0/status", "Discharging\n");
    VirtualPda::writeFile(pda.power + "/BAT0/capacity", "5\n");
    VirtualPda::writeFile(pda.power + "/AC/online", "0\n");
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 2; }, 3000));
    VirtualPda::writeFile(pda.power + "/AC/online", "1\n");
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 3; }, 3000));
    QCOMPARE(pda.terminateCamera(), 0);
    QVERIFY(waitFor([&] { return screenSaver.events.size() == 4; }, 3000));
    QTest::qWait(200);
    QCOMPARE(screenSaver.events,
             (QStringList{"Inhibit camera 1", "UnInhibit 1", "Inhibit camera 2", "UnInhibit 2"}));
    QCOMPARE(screenSaver.held(), 0);
}

void TestE2eSession::secondStartRaisesFirst()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run under dbus-run-session)");
    VirtualPda pda;
    pda.cameraEnv.insert("QT_LOGGING_RULES", platformDebug);
    const QByteArray settings("[Option]\nSaveTo=0\nSerial=7\n");
    QVERIFY(pda.ready() && pda.startEmulator());
    pda.writeSettings(settings);
    QVERIFY(pda.startCamera(true));
    QVERIFY(waitForFrames(pda, 0, 3, 15000));

    QProcess second;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(pda.startCameraProcess(second));
    QVERIFY(second.waitForFinished(2000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QByteArray errors;
    QVERIFY(waitFor([&] { return (errors += pda.camera.readAllStandardError()).contains(raisedLine); },
                    3000));
    // The first goes on previewing; the card was opened once, the settings were not touched.
    QVERIFY(waitForFrames(pda, int(pda.log().size()), 5, 3000));
    QVERIFY(pda.cameraRunning());
    QCOMPARE(count(pda.log(), 0, "open"), 1);
    QCOMPARE(pda.settings(), settings);

    // A camera that died leaves the way free: the next start runs.
    ::kill(pid_t(pda.camera.processId()), SIGKILL);
    QVERIFY(pda.camera.waitForFinished(5000));
    QVERIFY(pda.startCamera());
    QVERIFY(waitFor([&] { return count(pda.log(), 0, "open") == 2; }, 5000));
    QVERIFY(!waitFor([&] { return !pda.cameraRunning(); }, 1000));
    QCOMPARE(pda.terminateCamera(), 0);
}


QTEST_GUILESS_MAIN(TestE2eSession)
#include "tst_e2e_session.moc"
