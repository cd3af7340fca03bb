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
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <unistd.h>

namespace bench {

double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

CardEmulator::~CardEmulator()
{
    stop();
}

bool CardEmulator::start(const QString& folder, const QString& mount, const QString& log,
                         int frameMs, const QString& owner)
{
    // In the virtual PDA (scripts/bench starts it) the links are nobody else's.
    const QFileInfo node(QString::fromLatin1(linkedNode));
    if (node.exists() || node.isSymLink()) {
        std::fprintf(stderr, "%s exists: run the bench in a virtual PDA (scripts/bench)\n",
                     linkedNode);
        return false;
    }
    mountPath = mount;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral("--mount"), mount, QStringLiteral("--link"),
                     QStringLiteral("--log"), log, QStringLiteral("--frame-ms"),
                     QString::number(frameMs)};
    if (!owner.isEmpty())
        args << QStringLiteral("--owner") << owner;
    args += extra;
    process.setProcessEnvironment(environment);
    process.start(folder + QStringLiteral("/camera-card-emulator"), args);
    if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000)
        || !process.readAllStandardOutput().contains("ready")) {
        std::fprintf(stderr, "the camera card emulator did not start (root is needed for --link)\n");
        stop();
        return false;
    }
    return true;
}

void CardEmulator::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(2000);
    }
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

bool Setup::start(const char* name, const QString& programs)
{
    bin = programs;
    if (!dir.isValid()) {
        std::fprintf(stderr, "%s: cannot make a folder under /dev/shm\n", name);
        return false;
    }
    log = path("card.log");
    home = path("home");
    runtime = path("runtime");
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString& made : {dir.path(), home, runtime})
        handOver(made);
    env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS"})
        env.remove(QString::fromLatin1(variable));
    return emulator.start(bin, path("card"), log, 0, runUser().name);
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
    env.insert(QStringLiteral("LD_PRELOAD"), QFileInfo(shim).canonicalFilePath());
    env.insert(QStringLiteral("FB_SHIM_SIZE"), QStringLiteral("240x320"));
    env.insert(QStringLiteral("FB_SHIM_MEMORY"), memory);
    return true;
}

QString startXvfb(QProcess& xvfb, int depth, QString* reason)
{
    int fds[2];
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        *reason = QStringLiteral("no Xvfb (package xvfb)");
        return {};
    }
    if (::pipe(fds) != 0) {
        *reason = QStringLiteral("no pipe");
        return {};
    }
    xvfb.setProgram(QStringLiteral("Xvfb"));
    xvfb.setArguments({QStringLiteral("-displayfd"), QString::number(fds[1]), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("240x320x%1").arg(depth),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    runAsUser(xvfb, [fd = fds[1]] { ::fcntl(fd, F_SETFD, 0); });
    xvfb.setStandardErrorFile(QProcess::nullDevice());
    xvfb.start();
    ::close(fds[1]);
    char number[16] = {};
    pollfd p{fds[0], POLLIN, 0};
    QString display;
    if (xvfb.waitForStarted(5000) && ::poll(&p, 1, 10000) == 1 && ::read(fds[0], number, sizeof number - 1) > 0)
        display = QStringLiteral(":%1").arg(QString::fromLatin1(number).trimmed());
    ::close(fds[0]);
    if (display.isEmpty()) {
        *reason = QStringLiteral("Xvfb did not start");
        stopProcess(xvfb);
    }
    return display;
}

bool startWeston(QProcess& weston, const QString& runtime, QString* reason)
{
    if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty()) {
        *reason = QStringLiteral("no weston (package weston)");
        return false;
    }
    QFile ini(runtime + QStringLiteral("/weston.ini"));
    if (!ini.open(QIODevice::WriteOnly)) {
        *reason = QStringLiteral("cannot write weston.ini");
        return false;
    }
    ini.write("[core]\nidle-time=0\n[shell]\npanel-position=none\nanimation=none\nstartup-animation=none\n");
    ini.close();
    handOver(ini.fileName());
    const QString socket = runtime + QStringLiteral("/wayland-bench");
    QFile::remove(socket);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    weston.setProcessEnvironment(env);
    runAsUser(weston);
    weston.setStandardOutputFile(QProcess::nullDevice());
    weston.setStandardErrorFile(QProcess::nullDevice());
    weston.start(QStringLiteral("weston"),
                 {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--use-pixman"),
                  QStringLiteral("--width=240"), QStringLiteral("--height=320"),
                  QStringLiteral("--socket=wayland-bench"), QStringLiteral("--config=") + ini.fileName(),
                  QStringLiteral("--log=") + runtime + QStringLiteral("/weston.log")});
    if (weston.waitForStarted(5000)) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && weston.state() == QProcess::Running) {
            if (QFile::exists(socket))
                return true;
            QThread::msleep(20);
        }
    }
    *reason = QStringLiteral("weston did not come up (its log: %1/weston.log)").arg(runtime);
    stopProcess(weston);
    return false;
}

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
        QElapsedTimer clock;
        clock.start();
        QThread::msleep(unsigned(seconds) * 1000);
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
