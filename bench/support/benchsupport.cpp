#include "bench/support/benchsupport.h"

#include "device/cameradevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

namespace bench {

double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

QString partUser();

bool CardEmulator::start(const QString& bin, const QString& folder, int frameMs)
{
    // In the virtual PDA (scripts/bench starts it) the links are nobody else's.
    const QFileInfo linked(QString::fromLatin1(linkedNode));
    if (linked.exists() || linked.isSymLink()) {
        std::fprintf(stderr, "%s exists: run the bench in a virtual PDA (scripts/bench)\n",
                     linkedNode);
        return false;
    }
    QStringList options{QStringLiteral("--emulator"), bin + QStringLiteral("/camera-card-emulator")};
    if (!webcams.isEmpty())
        options << QStringLiteral("--webcam") << webcams;
    if (!part.start({QStringLiteral("card")}, partUser(), folder, options,
                    QStringList{QStringLiteral("--link"), QStringLiteral("--frame-ms"), QString::number(frameMs)}
                        + extra,
                    environment)) {
        std::fprintf(stderr, "the camera card emulator did not start: %s\n", qPrintable(part.error()));
        return false;
    }
    return true;
}

long LogCounter::update()
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return matches;
    const QByteArray added = file.readAll();
    offset += added.size();
    partial += added;
    qsizetype start = 0;
    for (qsizetype end = partial.indexOf('\n'); end >= 0; end = partial.indexOf('\n', start)) {
        if (QByteArrayView(partial.constData() + start, end - start) == QByteArrayView(wanted))
            ++matches;
        start = end + 1;
    }
    partial.remove(0, start);
    return matches;
}

double frameCycleMs(const QString& node, int cycles)
{
    QImage image(240, 320, QImage::Format_RGB16);
    const QByteArray path = QFile::encodeName(node);
    CameraDevice device(path.constData());
    bool ok = device.sendGeometry(image, true, 240, 160, 256);
    for (int i = 0; i < 50; ++i)  // warm up: caches, the emulator's threads
        ok = device.readFrame(image) && ok;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i)
        ok = device.readFrame(image) && ok;
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    return ok ? spent.count() / cycles : -1;
}

namespace {

class TickLoop : public QObject {
public:
    TickLoop(CameraDevice& device, Qt::TimerType type) : device(device), type(type)
    {
        id = startTimer(10, type);
    }
    long frames = 0;

protected:
    void timerEvent(QTimerEvent*) override
    {
        killTimer(id);
        device.readStatus();
        if (device.readFrame(image))
            ++frames;
        device.sendC();
        id = startTimer(10, type);
    }

private:
    CameraDevice& device;
    Qt::TimerType type;
    QImage image{240, 320, QImage::Format_RGB16};
    int id = 0;
};

}  // namespace

double tickLoopRate(const QString& node, int seconds, Qt::TimerType type)
{
    const QByteArray path = QFile::encodeName(node);
    CameraDevice device(path.constData());
    QImage image(240, 320, QImage::Format_RGB16);
    device.sendGeometry(image, true, 240, 160, 256);
    TickLoop loop(device, type);
    QEventLoop events;
    QTimer::singleShot(seconds * 1000, &events, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    events.exec();
    return double(loop.frames) / (double(clock.nsecsElapsed()) / 1e9);
}

long residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double cpuMs(qint64 pid)
{
    // The scheduler's own count in nanoseconds, thread by thread: /proc/PID/stat counts in
    // clock ticks of 10 ms, a tenth of what the bare loop spends in a five-second window.
    // A thread that ended inside the window takes its time with it.
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    if (pid <= 0 || !tasks.exists())
        return -1;
    double ns = 0;
    bool any = false;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!f.open(QIODevice::ReadOnly))
            continue;  // gone meanwhile
        bool ok = false;
        const double ran = f.readAll().split(' ').value(0).toDouble(&ok);
        if (ok) {
            ns += ran;
            any = true;
        }
    }
    return any ? ns / 1e6 : -1;
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

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished(2000);
}

namespace {
int leftOutCount = 0;

// The virtual PDA's user when the bench runs as root in it; uid 0 otherwise.
struct User {
    uid_t uid = 0;
    gid_t gid = 0;
    QString name;
};

User pdaUser()
{
    User user;
    const uint uid = qEnvironmentVariableIntValue("PDA_UID");
    if (::geteuid() == 0 && uid != 0 && !qEnvironmentVariableIsEmpty("PDA_USER")) {
        user.uid = uid;
        user.gid = qEnvironmentVariableIntValue("PDA_GID");
        user.name = qEnvironmentVariable("PDA_USER");
    }
    return user;
}

const User& runUser()
{
    static const User user = pdaUser();
    return user;
}
}  // namespace

QString partUser()
{
    return runUser().uid == 0 ? QStringLiteral("root") : runUser().name;
}

void runAsUser(QProcess& process, std::function<void()> also)
{
    const User& user = runUser();
    if (user.uid == 0) {
        if (also)
            process.setChildProcessModifier(also);
        return;
    }
    process.setChildProcessModifier([also, uid = user.uid, gid = user.gid] {
        if (also)
            also();
        // Never on as root when the switch fails.
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(127);
    });
}

void handOver(const QString& path)
{
    const User& user = runUser();
    if (user.uid != 0 && ::lchown(QFile::encodeName(path).constData(), user.uid, user.gid) != 0)
        std::fprintf(stderr, "cannot give %s to %s\n", qPrintable(path), qPrintable(user.name));
}

void leftOut(const QString& figure, const QString& reason)
{
    ++leftOutCount;
    std::printf("LEFT OUT: %s: %s\n", qPrintable(figure), qPrintable(reason));
    std::fflush(stdout);
}

int exitStatus()
{
    return leftOutCount ? 3 : 0;
}

void onOneProcessor(const char* bench)
{
    if (qEnvironmentVariable("BENCH_CPUS") == QLatin1String("all")) {
        std::printf("%s: on every processor (BENCH_CPUS=all)\n", bench);
        return;
    }
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return;
    int first = 0;
    while (first < CPU_SETSIZE && !CPU_ISSET(first, &allowed))
        ++first;
    if (first == CPU_SETSIZE)
        return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    if (sched_setaffinity(0, sizeof one, &one) == 0)
        std::printf("%s: everything on processor %d, as on the handheld's one core "
                    "(BENCH_CPUS=all spreads it)\n", bench, first);
    else
        std::printf("%s: could not keep to one processor, on every one\n", bench);
    std::fflush(stdout);
}

bool Setup::start(const char* name, const QString& programs)
{
    bin = programs;
    if (!dir.isValid()) {
        std::fprintf(stderr, "%s: cannot make a folder under /dev/shm\n", name);
        return false;
    }
    home = path("home");
    runtime = path("runtime");
    card = path("card");
    // Root's folder, made for the user: the launcher's pieces and the programs make the rest.
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString& made : {home, runtime, dir.path()})
        handOver(made);
    env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS"})
        env.remove(QString::fromLatin1(variable));
    if (!emulator.start(bin, card, 0))
        return false;
    log = emulator.log();
    return true;
}

bool addPanel(QProcessEnvironment& env, const QString& bin, const QString& memory, QString* reason)
{
    const QString shim = QDir(bin).filePath(QStringLiteral("../tools/devices/liborvane_framebuffer.so"));
    if (!QFile::exists(shim)) {
        *reason = QStringLiteral("no %1 (target orvane_framebuffer not built)").arg(QDir::cleanPath(shim));
        return false;
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("linuxfb:fb=/dev/fb0:tty=/dev/null"));
    env.insert(QStringLiteral("QT_QPA_FB_DISABLE_INPUT"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_FB_HIDECURSOR"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_FB_FORCE_FULLSCREEN"), QStringLiteral("0"));
    // By name through the library path: LD_PRELOAD splits at blanks, which a checkout's
    // path may hold.
    const QFileInfo library(QFileInfo(shim).canonicalFilePath());
    env.insert(QStringLiteral("LD_PRELOAD"), library.fileName());
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), library.path());
    env.insert(QStringLiteral("FB_SHIM_SIZE"), QStringLiteral("240x320"));
    env.insert(QStringLiteral("FB_SHIM_MEMORY"), memory);
    return true;
}

bool startXvfb(pda::Part& xvfb, int depth, const QString& folder, QProcessEnvironment& env, QString* reason)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        *reason = QStringLiteral("no Xvfb (package xvfb)");
        return false;
    }
    if (!xvfb.start({QStringLiteral("screen"), QStringLiteral("xvfb")}, partUser(), folder,
                    {QStringLiteral("--depth"), QString::number(depth)})) {
        *reason = QStringLiteral("Xvfb did not start: ") + xvfb.error();
        return false;
    }
    env.insert(QStringLiteral("DISPLAY"), xvfb.value(QStringLiteral("DISPLAY")));
    env.insert(QStringLiteral("XAUTHORITY"), xvfb.value(QStringLiteral("XAUTHORITY")));
    return true;
}

bool startWeston(pda::Part& weston, const QString& folder, QProcessEnvironment& env, QString* reason)
{
    if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty()) {
        *reason = QStringLiteral("no weston (package weston)");
        return false;
    }
    if (!weston.start({QStringLiteral("screen"), QStringLiteral("weston-headless")}, partUser(), folder)) {
        *reason = QStringLiteral("weston did not come up: ") + weston.error();
        return false;
    }
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), weston.value(QStringLiteral("WAYLAND_DISPLAY")));
    return true;
}

QString startBus(pda::Part& bus, const QString& folder, QString* reason)
{
    if (!bus.start({QStringLiteral("bus")}, partUser(), folder)) {
        *reason = QStringLiteral("the session bus did not come up: ") + bus.error();
        return {};
    }
    return bus.value(QStringLiteral("BUS"));
}

namespace {

// With BENCH_PERF=FOLDER, a measured window of `pid` is recorded by perf (with DWARF call
// graphs: the Release build keeps no frame pointers) into FOLDER/PROGRAM-N.data, N counting
// up, to see where its time goes. perf's own share lands in such a run's figures.
void profile(QProcess& profiler, const QString& program, qint64 pid)
{
    const QString folder = qEnvironmentVariable("BENCH_PERF");
    if (folder.isEmpty())
        return;
    static int serial = 0;
    const QString out = QStringLiteral("%1/%2-%3.data").arg(folder, QFileInfo(program).fileName()).arg(++serial);
    profiler.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    profiler.setStandardOutputFile(QProcess::nullDevice());
    profiler.start(QStringLiteral("perf"), {QStringLiteral("record"), QStringLiteral("--call-graph=dwarf,16384"),
                                            QStringLiteral("-F"), QStringLiteral("999"), QStringLiteral("-o"), out,
                                            QStringLiteral("-p"), QString::number(pid)});
    if (profiler.waitForStarted(5000)) {
        QThread::msleep(300);  // perf attaches
        std::printf("profile of %s: %s\n", qPrintable(program), qPrintable(out));
    } else {
        std::printf("profile of %s: perf did not start\n", qPrintable(program));
    }
}

}  // namespace

PreviewWindow measurePreview(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env, LogCounter& frames, int seconds,
                             const std::vector<qint64>& servers,
                             const std::function<void(bool start)>& window)
{
    PreviewWindow w;
    QProcess process;
    process.setProcessEnvironment(env);
    runAsUser(process);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForStarted(5000))
        return w;
    frames.update();
    const long before = frames.count();
    QElapsedTimer waited;
    waited.start();
    while (frames.update() == before && waited.elapsed() < 10000)
        QThread::msleep(5);
    if (frames.count() != before) {
        QThread::msleep(2000);
        const long first = frames.update();
        const double ownFirst = cpuMs(process.processId());
        const double serverFirst = servers.empty() ? 0 : cpuMs(servers);
        if (window)
            window(true);
        QProcess profiler;
        profile(profiler, program, process.processId());
        QElapsedTimer clock;
        clock.start();
        QThread::msleep(unsigned(seconds) * 1000);
        if (profiler.state() != QProcess::NotRunning) {
            ::kill(pid_t(profiler.processId()), SIGINT);
            profiler.waitForFinished(30000);
        }
        if (window)
            window(false);
        const long last = frames.update();
        const double ownLast = cpuMs(process.processId());
        const double serverLast = servers.empty() ? 0 : cpuMs(servers);
        const double n = double(last - first);
        if (n > 0 && ownFirst >= 0 && ownLast >= 0) {
            w.fps = n / (double(clock.nsecsElapsed()) / 1e9);
            w.cpuMs = (ownLast - ownFirst) / n;
            if (!servers.empty() && serverFirst >= 0 && serverLast >= 0)
                w.serverMs = (serverLast - serverFirst) / n;
        }
    }
    stopProcess(process);
    return w;
}

}  // namespace bench
