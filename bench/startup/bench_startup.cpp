// Start-up and memory of the camera application against a bare Qt window with the same
// fifteen widgets (bench_bare_window), in the same run:
//   - time from process start to the first viewfinder frame: the application's first
//     "read 153600 153600" in the emulator's log; the bare window's first paint;
//   - VmRSS after ten seconds (of preview, for the application).
// Both on QT_QPA_PLATFORM=offscreen with the same tmpfs HOME; the start-up is the median
// of RUNS starts of each, taken in turn.
//
// Then both on Qt's linuxfb over the simulated frame buffer (240x320, 16-bit), timed to
// what the panel's memory shows: the camera's first live frame in the viewfinder (the
// scene's red and green quarters) against the bare window's first paint on the panel;
// median of RUNS starts each.
//
//   bench_startup [RUNS]   (root: the emulator is linked at /dev; default 15 runs)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

// The RGB565 pixel at (x, y) of a 240x320 panel's memory file; 0 when not there yet.
quint16 panelPixel(const QString& memory, int x, int y)
{
    QFile f(memory);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !f.seek(qint64(y) * 480 + 2 * x))
        return 0;
    quint16 v = 0;
    return f.read(reinterpret_cast<char*>(&v), 2) == 2 ? v : 0;
}

bool isRed(quint16 v) { return (v >> 11) > 24 && ((v >> 5) & 63) < 16 && (v & 31) < 8; }
bool isGreen(quint16 v) { return (v >> 11) < 8 && ((v >> 5) & 63) > 48 && (v & 31) < 8; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
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

    // ---- on the simulated panel, to what the screen shows ------------------------------
    const QString shim = QDir(bin).filePath(QStringLiteral("../tools/devices/liborvane_framebuffer.so"));
    std::vector<double> panelCameraMs, panelBareMs;
    if (QFile::exists(shim)) {
        const QString memory = dir.filePath(QStringLiteral("panel.mem"));
        QProcessEnvironment panelEnv = env;
        panelEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("linuxfb:fb=/dev/fb0:tty=/dev/null"));
        panelEnv.insert(QStringLiteral("QT_QPA_FB_DISABLE_INPUT"), QStringLiteral("1"));
        panelEnv.insert(QStringLiteral("QT_QPA_FB_HIDECURSOR"), QStringLiteral("1"));
        panelEnv.insert(QStringLiteral("QT_QPA_FB_FORCE_FULLSCREEN"), QStringLiteral("0"));
        panelEnv.insert(QStringLiteral("LD_PRELOAD"), QFileInfo(shim).canonicalFilePath());
        panelEnv.insert(QStringLiteral("FB_SHIM_SIZE"), QStringLiteral("240x320"));
        panelEnv.insert(QStringLiteral("FB_SHIM_MEMORY"), memory);
        // The window preview fills the 240x160 viewfinder: red and green top quarters.
        auto sceneShown = [&memory](QProcess&) {
            return isRed(panelPixel(memory, 60, 40)) && isGreen(panelPixel(memory, 180, 40));
        };
        // The bare window's background, anywhere off its widgets.
        auto windowShown = [&memory](QProcess&) { return panelPixel(memory, 120, 230) != 0; };
        for (int i = -1; i < runs; ++i) {  // the first start of each is not counted
            QFile::remove(memory);
            const Started c = run(bin + QStringLiteral("/camera"), panelEnv, sceneShown, 0);
            QFile::remove(memory);
            const Started b = run(bin + QStringLiteral("/bench_bare_window"), panelEnv, windowShown, 0);
            if (c.ms < 0 || b.ms < 0) {
                std::fprintf(stderr, "bench_startup: on the panel %s never showed\n",
                             c.ms < 0 ? "the camera's first frame" : "the bare window");
                return 1;
            }
            if (i >= 0) {
                panelCameraMs.push_back(c.ms);
                panelBareMs.push_back(b.ms);
            }
        }
    } else {
        std::fprintf(stderr, "bench_startup: no %s; the panel is left out\n", qPrintable(shim));
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
    if (!panelCameraMs.empty()) {
        const double pc = bench::median(panelCameraMs), pb = bench::median(panelBareMs);
        std::printf("on the simulated frame buffer, to what the panel shows, median of %d starts each:\n", runs);
        std::printf("  camera (first live frame in the viewfinder)  %7.1f ms\n", pc);
        std::printf("  bare window (first paint on the panel)       %7.1f ms\n", pb);
        std::printf("  ratio %.2f\n", pc / pb);
    }
    std::printf("VmRSS after ten seconds:\n");
    std::printf("  camera (preview running)   %7ld kB\n", cameraHeld.rssKb);
    std::printf("  bare window                %7ld kB\n", bareHeld.rssKb);
    std::printf("  ratio %.2f\n", double(cameraHeld.rssKb) / double(bareHeld.rssKb));
    return 0;
}
