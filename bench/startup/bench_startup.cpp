// Start-up and memory of the camera application against a bare Qt window with the same
// fifteen widgets (bench_bare_window), in the same run:
//   - time from process start to the first viewfinder frame: the application's first
//     "read 153600 153600" in the emulator's log; the bare window's first paint;
//   - VmRSS after ten seconds (of preview, for the application).
// Both on QT_QPA_PLATFORM=offscreen with the same tmpfs HOME; the start-up is the median
// of RUNS starts of each, taken in turn.
//
//   bench_startup [RUNS]   (root: the emulator is linked at /dev)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

struct Started {
    double ms = -1;  // to the first frame or paint; negative when it never came
    long rssKb = -1;
};

// Starts `program`, waits until `ready` says so (polled every millisecond), then, when
// `holdMs` is given, reads VmRSS after that long from the start; stops the program.
Started run(const QString& program, const QProcessEnvironment& env,
            const std::function<bool(QProcess&)>& ready, int holdMs)
{
    Started result;
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    if (!process.waitForStarted(5000))
        return result;
    while (clock.elapsed() < 20000 && process.state() == QProcess::Running) {
        process.waitForReadyRead(1);
        if (ready(process)) {
            result.ms = double(clock.nsecsElapsed()) / 1e6;
            break;
        }
    }
    if (result.ms >= 0 && holdMs > 0) {
        const qint64 left = holdMs - clock.elapsed();
        if (left > 0)
            QThread::msleep(unsigned(left));
        result.rssKb = bench::residentKb(process.processId());
    }
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(2000);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    if (runs <= 0)
        return 2;
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir(QStringLiteral("/dev/shm/bench_startup-XXXXXX"));
    if (!dir.isValid())
        return 1;
    const QString log = dir.filePath(QStringLiteral("card.log"));
    bench::CardEmulator emulator;
    if (!emulator.start(bin, dir.filePath(QStringLiteral("card")), log, 0))
        return 1;

    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    bench::LogCounter frames(log, "read 153600 153600");
    auto firstFrame = [&frames](QProcess&) {
        const long before = frames.count();
        return frames.update() > before;
    };
    QByteArray bareOutput;
    auto firstPaint = [&bareOutput](QProcess& p) {
        bareOutput += p.readAllStandardOutput();
        return bareOutput.contains("painted\n");
    };

    // A first start of each, not counted, fills the page cache with the libraries.
    run(bin + QStringLiteral("/camera"), env, firstFrame, 0);
    bareOutput.clear();
    run(bin + QStringLiteral("/bench_bare_window"), env, firstPaint, 0);

    std::vector<double> cameraMs, bareMs;
    for (int i = 0; i < runs; ++i) {
        frames.update();
        const Started c = run(bin + QStringLiteral("/camera"), env, firstFrame, 0);
        bareOutput.clear();
        const Started b = run(bin + QStringLiteral("/bench_bare_window"), env, firstPaint, 0);
        if (c.ms < 0 || b.ms < 0) {
            std::fprintf(stderr, "bench_startup: %s never showed its first %s\n",
                         c.ms < 0 ? "the camera" : "the bare window", c.ms < 0 ? "frame" : "paint");
            return 1;
        }
        cameraMs.push_back(c.ms);
        bareMs.push_back(b.ms);
    }

    frames.update();
    const Started cameraHeld = run(bin + QStringLiteral("/camera"), env, firstFrame, 10000);
    bareOutput.clear();
    const Started bareHeld = run(bin + QStringLiteral("/bench_bare_window"), env, firstPaint, 10000);
    emulator.stop();
    if (cameraHeld.rssKb < 0 || bareHeld.rssKb < 0) {
        std::fprintf(stderr, "bench_startup: no VmRSS read\n");
        return 1;
    }

    const double c = bench::median(cameraMs), b = bench::median(bareMs);
    std::printf("start to first frame / first paint, median of %d starts each:\n", runs);
    std::printf("  camera (first frame read)  %7.1f ms\n", c);
    std::printf("  bare window (first paint)  %7.1f ms\n", b);
    std::printf("  ratio %.2f\n", c / b);
    std::printf("VmRSS after ten seconds:\n");
    std::printf("  camera (preview running)   %7ld kB\n", cameraHeld.rssKb);
    std::printf("  bare window                %7ld kB\n", bareHeld.rssKb);
    std::printf("  ratio %.2f\n", double(cameraHeld.rssKb) / double(bareHeld.rssKb));
    return 0;
}
