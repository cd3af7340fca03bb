// Start-up and memory of the camera application against a bare Qt window with the same
// fifteen widgets (bench_bare_window), in the same run:
//   - time from process start to the first viewfinder frame: the application's first
//     "read 153600 153600" in the emulator's log; the bare window's first paint;
//     on QT_QPA_PLATFORM=offscreen with the same tmpfs HOME, the median of RUNS starts of
//     each, taken in turn (aim <= 2x);
//   - on Qt's linuxfb over the simulated frame buffer (240x320, 16-bit), timed to what the
//     panel's memory shows: the camera's first live frame in the viewfinder (the scene's
//     red and green quarters) against the bare window's first paint on the panel (aim
//     <= 1.5x);
//   - VmRSS after ten seconds (of preview, for the application; aim <= 1.3x).
// The start-up figures twice: with a session bus present, as on a desktop (a private
// dbus-daemon), and without one, as on the handheld.
//
//   bench_startup [RUNS]   (root: the emulator is linked at /dev; default 15 runs)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
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
    bench::runAsUser(process);
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


struct Starts {
    double camera = -1, bare = -1;  // medians, ms
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    if (runs <= 0)
        return 2;
    bench::Setup setup;
    if (!setup.start("bench_startup", QCoreApplication::applicationDirPath()))
        return 1;
    const QString camera = setup.bin + QStringLiteral("/camera");
    const QString bare = setup.bin + QStringLiteral("/bench_bare_window");
    QProcessEnvironment env = setup.env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    bench::LogCounter frames(setup.log, "read 153600 153600");
    auto firstFrame = [&frames](QProcess&) {
        const long before = frames.count();
        return frames.update() > before;
    };
    QByteArray bareOutput;
    auto firstPaint = [&bareOutput](QProcess& p) {
        bareOutput += p.readAllStandardOutput();
        return bareOutput.contains("painted\n");
    };

    const QString memory = setup.path("panel.mem");
    QProcessEnvironment panelEnv = setup.env;
    QString panelReason;
    const bool panel = bench::addPanel(panelEnv, setup.bin, memory, &panelReason);
    // The window preview fills the 240x160 viewfinder: red and green top quarters.
    auto sceneShown = [&memory](QProcess&) {
        return isRed(panelPixel(memory, 60, 40)) && isGreen(panelPixel(memory, 180, 40));
    };
    // The bare window's background, anywhere off its widgets.
    auto windowShown = [&memory](QProcess&) { return panelPixel(memory, 120, 230) != 0; };

    // Medians of `runs` starts of each, in turn, after a first start of each that is not
    // counted (it fills the page cache with the libraries); false when one never showed.
    auto measure = [&](const QProcessEnvironment& e, bool onPanel, Starts& result) {
        std::vector<double> cameraMs, bareMs;
        for (int i = -1; i < runs; ++i) {
            frames.update();
            if (onPanel)
                QFile::remove(memory);
            const Started c = run(camera, e, onPanel ? std::function<bool(QProcess&)>(sceneShown) : firstFrame, 0);
            bareOutput.clear();
            if (onPanel)
                QFile::remove(memory);
            const Started b = run(bare, e, onPanel ? std::function<bool(QProcess&)>(windowShown) : firstPaint, 0);
            if (c.ms < 0 || b.ms < 0) {
                std::fprintf(stderr, "bench_startup: %s never showed %s\n",
                             c.ms < 0 ? "the camera" : "the bare window",
                             c.ms < 0 ? "its first frame" : "its first paint");
                return false;
            }
            if (i >= 0) {
                cameraMs.push_back(c.ms);
                bareMs.push_back(b.ms);
            }
        }
        result.camera = bench::median(cameraMs);
        result.bare = bench::median(bareMs);
        return true;
    };

    Starts offscreen[2], onPanel[2];  // [0] without a bus, [1] with one
    QString busReason;
    for (int withBus : {0, 1}) {
        pda::Part bus;
        QProcessEnvironment e = env, p = panelEnv;
        if (withBus) {
            const QString address = bench::startBus(bus, setup.path("bus"), &busReason);
            if (address.isEmpty()) {
                bench::leftOut(QStringLiteral("start-up with a session bus"), busReason);
                break;
            }
            e.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
            p.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        }
        if (!measure(e, false, offscreen[withBus]))
            return 1;
        if (panel && !measure(p, true, onPanel[withBus]))
            return 1;
        bus.stop();
    }
    if (!panel)
        bench::leftOut(QStringLiteral("start-up on the simulated panel"), panelReason);

    frames.update();
    const Started cameraHeld = run(camera, env, firstFrame, 10000);
    bareOutput.clear();
    const Started bareHeld = run(bare, env, firstPaint, 10000);
    setup.emulator.stop();
    if (cameraHeld.rssKb < 0 || bareHeld.rssKb < 0) {
        std::fprintf(stderr, "bench_startup: no VmRSS read\n");
        return 1;
    }

    auto show = [](const char* title, const Starts& s, double aim) {
        if (s.camera < 0)
            return;
        const double ratio = s.camera / s.bare;
        std::printf("  %-30s camera %7.1f ms  bare window %7.1f ms  ratio %.2f (aim <= %.1f: %s)\n",
                    title, s.camera, s.bare, ratio, aim, ratio <= aim ? "met" : "MISSED");
    };
    std::printf("start to the first frame (offscreen: first frame read; panel: first live frame in\n"
                "the viewfinder) against the bare window's first paint, median of %d starts each:\n", runs);
    show("offscreen, no bus", offscreen[0], 2.0);
    show("offscreen, session bus", offscreen[1], 2.0);
    show("simulated panel, no bus", onPanel[0], 1.5);
    show("simulated panel, session bus", onPanel[1], 1.5);
    const double rss = double(cameraHeld.rssKb) / double(bareHeld.rssKb);
    std::printf("VmRSS after ten seconds (offscreen, no bus): camera %ld kB  bare window %ld kB  "
                "ratio %.2f (aim <= 1.3: %s)\n", cameraHeld.rssKb, bareHeld.rssKb, rss,
                rss <= 1.3 ? "met" : "MISSED");
    return bench::exitStatus();
}
