// Processor time per preview frame: the real camera against the emulator (frame-ms 0, so the
// rate is the application's own), on each screen in turn in the same run, its user and
// system time read from /proc over a measured window and divided by the frames it read
// there (the "read 153600 153600" lines of the emulator's log). The display server's time
// over the same window is given per frame too, since drawing costs there as well: Xvfb on
// X11; weston and the Xvfb it draws into on Wayland.
//
// Baseline in the same run: the offscreen platform, which draws into memory only.
//
// Screens: offscreen; X11 at 16 bits (the direct copy into the virtual frame buffer) and at
// 24 bits; Wayland, a client of weston (pixman renderer, X11 back end, 240x320 output) in a
// 24-bit Xvfb, where the preview is painted.
//
//   bench_preview_cpu [SECONDS]   (root: the emulator is linked at /dev; programs are
//                                  taken from this program's folder)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

// User plus system time of a process in milliseconds; -1 when it cannot be read.
double cpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The fields after the command name, which may hold spaces, start past its ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble();  // utime, stime
    return ticks * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

double cpuMs(const std::vector<qint64>& pids)
{
    double sum = 0;
    for (qint64 pid : pids) {
        const double ms = cpuMs(pid);
        if (ms < 0)
            return -1;
        sum += ms;
    }
    return sum;
}

void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(3000))
        p.kill();
    p.waitForFinished(2000);
}

// An Xvfb of `depth` bits, 240x320, on a display number it picks itself; empty when none.
QString startXvfb(QProcess& xvfb, int depth)
{
    int fds[2];
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() || ::pipe(fds) != 0)
        return {};
    xvfb.setProgram(QStringLiteral("Xvfb"));
    xvfb.setArguments({QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("240x320x%1").arg(depth),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    xvfb.setChildProcessModifier([fd = fds[1]] { ::fcntl(fd, F_SETFD, 0); });
    xvfb.start();
    ::close(fds[1]);
    char number[16] = {};
    pollfd p{fds[0], POLLIN, 0};
    QString display;
    if (xvfb.waitForStarted(5000) && ::poll(&p, 1, 10000) == 1 && ::read(fds[0], number, sizeof number - 1) > 0)
        display = QStringLiteral(":%1").arg(QString::fromLatin1(number).trimmed());
    ::close(fds[0]);
    return display;
}

// weston on `display`, its socket `runtime`/wayland-bench; false when it did not come up.
bool startWeston(QProcess& weston, const QString& display, const QString& runtime)
{
    if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty())
        return false;
    QFile ini(runtime + QStringLiteral("/weston.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    ini.write("[core]\nidle-time=0\n[shell]\npanel-position=none\nanimation=none\nstartup-animation=none\n");
    ini.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("DISPLAY"), display);
    weston.setProcessEnvironment(env);
    weston.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    weston.setStandardOutputFile(QProcess::nullDevice());
    weston.start(QStringLiteral("weston"),
                 {QStringLiteral("--backend=x11-backend.so"), QStringLiteral("--use-pixman"),
                  QStringLiteral("--width=240"), QStringLiteral("--height=320"),
                  QStringLiteral("--socket=wayland-bench"), QStringLiteral("--config=") + ini.fileName(),
                  QStringLiteral("--log=") + runtime + QStringLiteral("/weston.log")});
    if (!weston.waitForStarted(5000))
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && weston.state() == QProcess::Running) {
        if (QFile::exists(runtime + QStringLiteral("/wayland-bench")))
            return true;
        QThread::msleep(20);
    }
    return false;
}

struct Figures {
    double fps = -1;
    double cameraMs = -1;  // per frame
    double serverMs = -1;  // per frame; -1 without a server
};

// Runs the camera in `env` and measures over `seconds` after two seconds of preview.
Figures measure(const QString& program, const QProcessEnvironment& env, bench::LogCounter& frames,
                const std::vector<qint64>& servers, int seconds)
{
    Figures f;
    QProcess camera;
    camera.setProcessEnvironment(env);
    camera.setProcessChannelMode(QProcess::ForwardedChannels);
    camera.start(program, {});
    if (!camera.waitForStarted(5000))
        return f;
    frames.update();
    const long before = frames.count();
    QElapsedTimer waited;
    waited.start();
    while (frames.update() == before && waited.elapsed() < 10000)
        QThread::msleep(5);
    if (frames.count() != before) {
        QThread::msleep(2000);
        const long first = frames.update();
        const double cameraFirst = cpuMs(camera.processId());
        const double serverFirst = servers.empty() ? 0 : cpuMs(servers);
        QElapsedTimer window;
        window.start();
        QThread::msleep(unsigned(seconds) * 1000);
        const long last = frames.update();
        const double cameraLast = cpuMs(camera.processId());
        const double serverLast = servers.empty() ? 0 : cpuMs(servers);
        const double n = double(last - first);
        if (n > 0 && cameraFirst >= 0 && cameraLast >= 0) {
            f.fps = n / (double(window.nsecsElapsed()) / 1e9);
            f.cameraMs = (cameraLast - cameraFirst) / n;
            if (!servers.empty() && serverFirst >= 0 && serverLast >= 0)
                f.serverMs = (serverLast - serverFirst) / n;
        }
    }
    stop(camera);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0)
        return 2;
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir(QStringLiteral("/dev/shm/bench_preview_cpu-XXXXXX"));
    if (!dir.isValid())
        return 1;
    const QString log = dir.filePath(QStringLiteral("card.log"));
    bench::CardEmulator emulator;
    if (!emulator.start(bin, dir.filePath(QStringLiteral("card")), log, 0))
        return 1;
    bench::LogCounter frames(log, "read 153600 153600");
    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    base.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    base.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    base.remove(QStringLiteral("WAYLAND_DISPLAY"));
    base.remove(QStringLiteral("DISPLAY"));
    const QString camera = bin + QStringLiteral("/camera");

    std::printf("processor time per preview frame (user + system), %d s each:\n", seconds);
    const auto report = [](const char* name, const Figures& f, const Figures& baseline) {
        if (f.fps < 0) {
            std::printf("  %-44s no frames\n", name);
            return;
        }
        std::printf("  %-44s %6.2f frames/s  camera %.3f ms/frame (%.2fx offscreen)", name, f.fps,
                    f.cameraMs, baseline.cameraMs > 0 ? f.cameraMs / baseline.cameraMs : 0.0);
        if (f.serverMs >= 0)
            std::printf("  display server %.3f ms/frame  together %.3f ms/frame", f.serverMs,
                        f.cameraMs + f.serverMs);
        std::printf("\n");
    };

    QProcessEnvironment offscreen = base;
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Figures baseline = measure(camera, offscreen, frames, {}, seconds);
    report("offscreen (baseline)", baseline, baseline);

    for (int depth : {16, 24}) {
        QProcess xvfb;
        const QString display = startXvfb(xvfb, depth);
        if (display.isEmpty()) {
            std::printf("  X11 %d-bit: no Xvfb\n", depth);
            continue;
        }
        QProcessEnvironment x = base;
        x.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        x.insert(QStringLiteral("DISPLAY"), display);
        const Figures f = measure(camera, x, frames, {xvfb.processId()}, seconds);
        const QByteArray name = QStringLiteral("X11, Xvfb %1-bit").arg(depth).toLatin1();
        report(name.constData(), f, baseline);
        stop(xvfb);
    }

    {
        QProcess xvfb;
        QProcess weston;
        const QString display = startXvfb(xvfb, 24);
        if (display.isEmpty() || !startWeston(weston, display, runtime)) {
            std::printf("  Wayland: no weston or Xvfb\n");
        } else {
            QProcessEnvironment w = base;
            w.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            w.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-bench"));
            const Figures f = measure(camera, w, frames, {weston.processId(), xvfb.processId()}, seconds);
            report("Wayland, weston (pixman) in Xvfb 24-bit", f, baseline);
        }
        stop(weston);
        stop(xvfb);
    }
    emulator.stop();
    return 0;
}
