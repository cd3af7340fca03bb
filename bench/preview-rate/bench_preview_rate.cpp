// The application's own preview rate with the emulator at frame-ms 0, against the ceiling
// 1000 / (10 + one frame cycle in ms) of a loop that waits its 10 ms tick and then does
// one frame cycle (M=0, one read of 153,600 bytes, M=1), the cycle measured through the
// same mount in the same run, before and after the application's run.
//
// Then a model of the loop without the screen (status read, frame cycle, "C", the tick
// restarted), with a coarse and with a precise timer, to tell the screen's share from the
// timer's.
//
// The rate is what the application's own measurement (key Delete) counts: frames read,
// here the "read 153600 153600" lines of the emulator's log over a measured window.
//
// The application runs on each screen in turn, in the same run: the offscreen platform,
// Qt's linuxfb over the simulated frame buffer (240x320, 16-bit; the preload library from
// the build tree) and a 16-bit X display (Xvfb 240x320x16, as the virtual PDA's). Each
// rate is also given against the tick loop without the screen (coarse timer).
//
//   bench_preview_rate [SECONDS]   (root: the emulator is linked at /dev; programs are
//                                   taken from this program's folder)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Screen {
    QString name;
    QProcessEnvironment env;
    double rate = -1;
};

// Frames per second the camera reads over `seconds`, after its preview has run for two
// seconds; negative when it read none.
double cameraRate(const QString& program, const QProcessEnvironment& env,
                  bench::LogCounter& frames, int seconds)
{
    QProcess camera;
    camera.setProcessEnvironment(env);
    camera.setProcessChannelMode(QProcess::ForwardedChannels);
    camera.start(program, {});
    if (!camera.waitForStarted(5000))
        return -1;
    frames.update();
    const long before = frames.count();
    QElapsedTimer waited;
    waited.start();
    while (frames.update() == before && waited.elapsed() < 10000)
        QThread::msleep(5);
    double rate = -1;
    if (frames.count() != before) {
        QThread::msleep(2000);
        const long first = frames.update();
        QElapsedTimer window;
        window.start();
        QThread::msleep(unsigned(seconds) * 1000);
        const long last = frames.update();
        rate = double(last - first) / (double(window.nsecsElapsed()) / 1e9);
    }
    camera.terminate();
    if (!camera.waitForFinished(5000))
        camera.kill();
    camera.waitForFinished(2000);
    return rate;
}

// A 240x320 16-bit X display; its name, or empty when Xvfb could not start.
QString startXvfb(QProcess& xvfb)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return {};
    for (int n = 70; n < 90; ++n) {
        if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
            continue;
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                                            QStringLiteral("0"), QStringLiteral("240x320x16"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted(5000))
            return {};
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000 && xvfb.state() == QProcess::Running) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                return QStringLiteral(":%1").arg(n);
            QThread::msleep(20);
        }
        xvfb.kill();
        xvfb.waitForFinished(2000);
    }
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0)
        return 2;
    const QString bin = QCoreApplication::applicationDirPath();
    // HOME and the mount on a tmpfs: the application wants its storage off the root file
    // system.
    QTemporaryDir dir(QStringLiteral("/dev/shm/bench_preview_rate-XXXXXX"));
    if (!dir.isValid())
        return 1;
    const QString log = dir.filePath(QStringLiteral("card.log"));
    bench::CardEmulator emulator;
    if (!emulator.start(bin, dir.filePath(QStringLiteral("card")), log, 0))
        return 1;

    const double cycleBefore = bench::frameCycleMs(emulator.node(), 1000);
    // The baseline before and after the application's runs, so that the machine's load
    // weighs on both alike.
    const double loopBefore = bench::tickLoopRate(emulator.node(), seconds / 2 + 1, Qt::CoarseTimer);

    bench::LogCounter frames(log, "read 153600 153600");
    frames.update();  // the cycles above are not the application's
    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    base.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    std::vector<Screen> screens;
    {
        Screen offscreen{QStringLiteral("offscreen platform"), base};
        offscreen.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        screens.push_back(offscreen);
    }
    const QString shim = QDir(bin).filePath(QStringLiteral("../tools/devices/liborvane_framebuffer.so"));
    if (QFile::exists(shim)) {
        Screen panel{QStringLiteral("simulated frame buffer (linuxfb, 240x320x16)"), base};
        panel.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("linuxfb:fb=/dev/fb0:tty=/dev/null"));
        panel.env.insert(QStringLiteral("QT_QPA_FB_DISABLE_INPUT"), QStringLiteral("1"));
        panel.env.insert(QStringLiteral("QT_QPA_FB_HIDECURSOR"), QStringLiteral("1"));
        panel.env.insert(QStringLiteral("QT_QPA_FB_FORCE_FULLSCREEN"), QStringLiteral("0"));
        panel.env.insert(QStringLiteral("LD_PRELOAD"), QFileInfo(shim).canonicalFilePath());
        panel.env.insert(QStringLiteral("FB_SHIM_SIZE"), QStringLiteral("240x320"));
        panel.env.insert(QStringLiteral("FB_SHIM_MEMORY"), dir.filePath(QStringLiteral("panel.mem")));
        screens.push_back(panel);
    } else {
        std::fprintf(stderr, "bench_preview_rate: no %s; the simulated panel is left out\n", qPrintable(shim));
    }
    QProcess xvfb;
    const QString display = startXvfb(xvfb);
    if (!display.isEmpty()) {
        Screen x{QStringLiteral("16-bit X display (Xvfb 240x320x16, xcb)"), base};
        x.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        x.env.insert(QStringLiteral("DISPLAY"), display);
        screens.push_back(x);
    } else {
        std::fprintf(stderr, "bench_preview_rate: no Xvfb; the X display is left out\n");
    }
    for (Screen& screen : screens) {
        screen.rate = cameraRate(bin + QStringLiteral("/camera"), screen.env, frames, seconds);
        if (screen.rate < 0) {
            std::fprintf(stderr, "bench_preview_rate: the application read no frame on the %s\n",
                         qPrintable(screen.name));
            return 1;
        }
    }
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        xvfb.waitForFinished(3000);
    }

    const double cycleAfter = bench::frameCycleMs(emulator.node(), 1000);
    // Where the difference goes: the same loop without the screen, with the application's
    // coarse timer and with a precise one.
    const double loopAfter = bench::tickLoopRate(emulator.node(), seconds / 2 + 1, Qt::CoarseTimer);
    const double coarseLoop = (loopBefore + loopAfter) / 2;
    const double preciseLoop = bench::tickLoopRate(emulator.node(), seconds / 2 + 1, Qt::PreciseTimer);
    emulator.stop();
    if (cycleBefore < 0 || cycleAfter < 0) {
        std::fprintf(stderr, "bench_preview_rate: a frame cycle failed\n");
        return 1;
    }
    const double cycle = (cycleBefore + cycleAfter) / 2;
    const double ceiling = 1000.0 / (10.0 + cycle);
    std::printf("frame cycle through the mount: %.3f ms (before %.3f, after the run %.3f)\n",
                cycle, cycleBefore, cycleAfter);
    std::printf("ceiling 1000 / (10 + cycle): %.2f frames/s\n", ceiling);
    std::printf("the tick loop without the screen (status, frame cycle, C): coarse timer %.2f "
                "frames/s (before %.2f, after %.2f; %.1f %%), precise timer %.2f frames/s (%.1f %%)\n",
                coarseLoop, loopBefore, loopAfter,
                100.0 * coarseLoop / ceiling, preciseLoop, 100.0 * preciseLoop / ceiling);
    for (const Screen& screen : screens) {
        const long tenths = std::lround(screen.rate * 10);  // the counter shows frames in 10 s / 10
        std::printf("application on the %s: %.2f frames/s (counter %ld.%ld), %.3f ms a frame; "
                    "%.1f %% of the ceiling, %.3fx the tick loop without a screen\n",
                    qPrintable(screen.name), screen.rate, tenths / 10, tenths % 10,
                    1000.0 / screen.rate, 100.0 * screen.rate / ceiling, screen.rate / coarseLoop);
    }
    return 0;
}
