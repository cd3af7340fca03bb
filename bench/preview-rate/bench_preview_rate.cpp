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
//   bench_preview_rate [SECONDS]   (root: the emulator is linked at /dev; programs are
//                                   taken from this program's folder)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <cstdlib>

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

    bench::LogCounter frames(log, "read 153600 153600");
    frames.update();  // the cycles above are not the application's
    QProcess camera;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    camera.setProcessEnvironment(env);
    camera.setProcessChannelMode(QProcess::ForwardedChannels);
    camera.start(bin + QStringLiteral("/camera"), {});
    if (!camera.waitForStarted(5000)) {
        std::fprintf(stderr, "bench_preview_rate: the camera program did not start\n");
        return 1;
    }
    // Wait for the preview to run, then two seconds more for a steady state.
    const long before = frames.count();
    QElapsedTimer waited;
    waited.start();
    while (frames.update() == before && waited.elapsed() < 10000)
        QThread::msleep(5);
    if (frames.count() == before) {
        std::fprintf(stderr, "bench_preview_rate: the application read no frame\n");
        return 1;
    }
    QThread::msleep(2000);

    const long first = frames.update();
    QElapsedTimer window;
    window.start();
    QThread::msleep(unsigned(seconds) * 1000);
    const long last = frames.update();
    const double elapsedS = double(window.nsecsElapsed()) / 1e9;
    camera.terminate();
    if (!camera.waitForFinished(5000))
        camera.kill();
    camera.waitForFinished(2000);

    const double cycleAfter = bench::frameCycleMs(emulator.node(), 1000);
    // Where the difference goes: the same loop without the screen, with the application's
    // coarse timer and with a precise one.
    const double coarseLoop = bench::tickLoopRate(emulator.node(), seconds / 2 + 1, Qt::CoarseTimer);
    const double preciseLoop = bench::tickLoopRate(emulator.node(), seconds / 2 + 1, Qt::PreciseTimer);
    emulator.stop();
    if (cycleBefore < 0 || cycleAfter < 0) {
        std::fprintf(stderr, "bench_preview_rate: a frame cycle failed\n");
        return 1;
    }
    const double cycle = (cycleBefore + cycleAfter) / 2;
    const double rate = double(last - first) / elapsedS;
    const double ceiling = 1000.0 / (10.0 + cycle);
    std::printf("frame cycle through the mount: %.3f ms (before %.3f, after the run %.3f)\n",
                cycle, cycleBefore, cycleAfter);
    std::printf("ceiling 1000 / (10 + cycle): %.2f frames/s\n", ceiling);
    const long tenths = std::lround(rate * 10);  // the counter shows frames in 10 s / 10
    std::printf("application: %ld frames in %.2f s = %.2f frames/s (the counter would show "
                "%ld.%ld)\n", last - first, elapsedS, rate, tenths / 10, tenths % 10);
    std::printf("ratio to the ceiling: %.1f %%\n", 100.0 * rate / ceiling);
    std::printf("the tick loop without the screen (status, frame cycle, C): coarse timer %.2f "
                "frames/s (%.1f %%), precise timer %.2f frames/s (%.1f %%)\n", coarseLoop,
                100.0 * coarseLoop / ceiling, preciseLoop, 100.0 * preciseLoop / ceiling);
    std::printf("per frame: application %.3f ms, coarse loop %.3f ms, precise loop %.3f ms, "
                "ceiling %.3f ms\n", 1000.0 / rate, 1000.0 / coarseLoop, 1000.0 / preciseLoop,
                1000.0 / ceiling);
    return 0;
}
