// The real camera binary on real screens: an X server without a window manager, and Qt's
// linuxfb over the simulated frame buffer. Each case is one run of the application on its
// own virtual PDA (see virtualpda.h).
#include "e2e/camerarun.h"
#include "e2e/xserver.h"
#include "support/scene.h"

#include <QImage>
#include <QtTest>

using namespace e2e;

class TestE2eScreens : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void onePressOneAttemptWithoutWindowManager();
    void fullScreenComesBackOnTop();
    void onTheLinuxFrameBuffer();
};

void TestE2eScreens::initTestCase()
{
    const QString reason = cannotRun();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

// The save fails; while its box is open, presses of the card's button are answered with "B"
// and dropped, even before the X server makes the box the active window: one press, one
// capture, one box.
void TestE2eScreens::onePressOneAttemptWithoutWindowManager()
{
    XServer x;
    if (x.display.isEmpty())
        QSKIP("no Xvfb here");
    VirtualPda pda;
    pda.display = x.display;
    pda.xauthority = x.authority;
    pda.asAccount([&] {
        QVERIFY(QDir().mkpath(pda.home + "/Documents"));
        VirtualPda::writeFile(pda.home + "/Documents/Image_Files", "a file, so every save fails\n");
    });
    QVERIFY(startPreview(pda));
    const int from = int(pda.log().size());
    QVERIFY(pda.control("shutter"));
    QVERIFY(waitFor([&] { return indexFrom(pda.log(), from, captureRead) >= 0; }, 5000));
    // The card's button stays pressed until "B": the same press must not be taken again.
    QTest::qWait(1000);
    QCOMPARE(count(pda.log(), from, captureGeometry), 1);
    const int again = int(pda.log().size());
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(150);
        QVERIFY(pda.control("shutter"));
    }
    QVERIFY(waitFor([&] { return count(pda.log(), again, "write B") >= 1; }, 5000));
    QTest::qWait(300);
    QCOMPARE(count(pda.log(), from, captureGeometry), 1);
    QCOMPARE(count(pda.log(), from, "ioctl 0x5680 2"), 1); // the buzzer only for the press taken
    QVERIFY(pda.cameraRunning());
    QCOMPARE(pda.terminateCamera(), 0);
    QCOMPARE(picturesUnder(pda.storage), QStringList());
}


// Full screen on, the control window brought over it and activated, as a click on it
// would: the camera puts the full-screen frame back on top. (Which window then has the
// keys cannot be told here: without a window manager the server ignores a focus request
// stamped earlier than xdotool's.)
void TestE2eScreens::fullScreenComesBackOnTop()
{
    XServer x;
    if (x.display.isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("no Xvfb or xdotool here");
    VirtualPda pda;
    pda.display = x.display;
    pda.xauthority = x.authority;
    QVERIFY(startPreview(pda, "[Option]\nDispMode=1\n"));
    const QString main = x11(x, "xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Camera$"}).section('\n', 0, 0);
    QVERIFY(!main.isEmpty());
    x11(x, "xdotool", {"windowfocus", "--sync", main});
    // The F button, at (0, 2) of the button group at (0, 160).
    x11(x, "xdotool", {"mousemove", "--window", main, "12", "174", "click", "1"});
    const QString mainHex = QString("0x%1").arg(main.toULong(), 0, 16);
    QString frame;
    QVERIFY(waitFor([&] {
        const QStringList stack = stackTopFirst(x);
        frame = stack.value(0);
        return !stack.isEmpty() && frame != mainHex
            && x11(x, "xwininfo", {"-id", frame}).contains("IsViewable");
    }, 5000));

    x11(x, "xdotool", {"windowraise", main});
    x11(x, "xdotool", {"windowfocus", main});
    QVERIFY2(waitFor([&] { return stackTopFirst(x).value(0) == frame; }, 3000),
             qPrintable(stackTopFirst(x).join(' ')));
    QVERIFY(pda.cameraRunning());
    QCOMPARE(pda.terminateCamera(), 0);
}


// The program itself on Qt's linuxfb over the simulated frame buffer: the panel's memory
// shows the scene upright in the viewfinder, and the shutter saves the upright picture.
void TestE2eScreens::onTheLinuxFrameBuffer()
{
    const QString shim = qEnvironmentVariable("CAMERA_BUILD_DIR") + "/tools/devices/liborvane_framebuffer.so";
    if (!QFile::exists(shim))
        QSKIP("the simulated frame buffer is not built");
    VirtualPda pda;
    const QString memory = pda.dir.filePath("panel.mem");
    {
        // The panel's memory belongs to the camera's user, as the device node would.
        QFile f(memory);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(::fchown(f.handle(), pda.account.uid, pda.account.gid) == 0);
    }
    pda.cameraEnv.insert("QT_QPA_PLATFORM", "linuxfb:fb=/dev/fb0:tty=/dev/null");
    pda.cameraEnv.insert("QT_QPA_FB_DISABLE_INPUT", "1");
    pda.cameraEnv.insert("QT_QPA_FB_HIDECURSOR", "1");
    pda.cameraEnv.insert("QT_QPA_FB_FORCE_FULLSCREEN", "0");
    preload(pda.cameraEnv, shim);
    pda.cameraEnv.insert("FB_SHIM_SIZE", "240x320");
    pda.cameraEnv.insert("FB_SHIM_MEMORY", memory);
    // Where the camera is sanitized: full stacks, so that what the toolkit's frame-buffer
    // plugin leaves at exit is told apart from a leak of ours.
    pda.cameraEnv.insert("ASAN_OPTIONS", "fast_unwind_on_malloc=0");
    QVERIFY(startPreview(pda, {}, 5));
    QTest::qWait(200);  // the toolkit's screen update after the last frame

    const auto panel = [&] {
        QFile f(memory);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QByteArray bytes = panel();
    QCOMPARE(bytes.size(), 240 * 320 * 2);
    // The window's top-left 240x160 is the viewfinder, the window preview fills it.
    const QImage viewfinder = QImage(reinterpret_cast<const uchar*>(bytes.constData()), 240, 160,
                                     480, QImage::Format_RGB16).copy();
    QString problem = sceneProblem(viewfinder);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    QVERIFY(pda.control("shutter"));
    const QString name = pda.picturesDir() + "/pic0001.jpg";
    QVERIFY(waitFor([&] { return QImage(name).size() == QSize(480, 320); }, 5000));
    problem = sceneProblem(QImage(name));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(pda.terminateCamera(), 0);
}



QTEST_GUILESS_MAIN(TestE2eScreens)
#include "tst_e2e_screens.moc"
