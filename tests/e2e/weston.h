#pragma once
// A compositor for one test, in a runtime folder of its own, with the pixman renderer:
// - weston, its debug protocol on (for weston-screenshooter), on a 240x320 output like the
//   handheld's screen. Two back ends:
//   - X11, inside a private 24-bit Xvfb: its seat has a keyboard, so a Wayland client there
//     becomes the active window, and xdotool's keys and clicks reach the focused client;
//   - headless: a seat without a keyboard, where no window is ever active;
// - sway, a tiling compositor that offers idle-inhibit and xdg-activation, on a 240x320
//   output in its X11 back end;
// - phoc, a phone's compositor, on a 360x720 output in its X11 back end: it maximises
//   every window.
// sway refuses root and phoc needs none: both run as the test account, and grim takes their
// screenshots. Everything ends with the object.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "support/testaccount.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {

class Compositor {
public:
    enum class Backend { X11, Headless };
    enum class Kind { Weston, Sway, Phoc };

    // Empty when the compositor can run here; otherwise why not.
    static QString unavailableReason(Kind kind)
    {
        const QString program = kind == Kind::Sway ? "sway" : "phoc";
        if (kind == Kind::Weston)
            return unavailableReason(Backend::X11);
        if (QStandardPaths::findExecutable(program).isEmpty())
            return program + " is not installed";
        if (QStandardPaths::findExecutable("grim").isEmpty())
            return QStringLiteral("grim is not installed");
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()
            || QStandardPaths::findExecutable("xdotool").isEmpty())
            return QStringLiteral("Xvfb or xdotool is not installed");
        testaccount::Account account;
        if (!testaccount::lookUp(account))
            return QStringLiteral("no account to run %1 as").arg(program);
        return {};
    }

    static QString unavailableReason(Backend backend)
    {
        if (QStandardPaths::findExecutable("weston").isEmpty())
            return QStringLiteral("weston is not installed");
        if (QStandardPaths::findExecutable("weston-screenshooter").isEmpty())
            return QStringLiteral("weston-screenshooter is not installed");
        if (backend == Backend::X11
            && (QStandardPaths::findExecutable("Xvfb").isEmpty()
                || QStandardPaths::findExecutable("xdotool").isEmpty()))
            return QStringLiteral("Xvfb or xdotool is not installed");
        return {};
    }

    explicit Compositor(Backend backend = Backend::X11) : Compositor(Kind::Weston, backend) {}

    explicit Compositor(Kind kind_, Backend backend = Backend::X11) : kind(kind_)
    {
        runtime = dir.path() + "/runtime";
        QDir().mkpath(runtime);
        // The camera runs as another user: it reaches the socket through this folder.
        ::chmod(QFile::encodeName(dir.path()).constData(), 0711);
        ::chmod(QFile::encodeName(runtime).constData(), 0711);
        if (backend == Backend::X11 && !startXvfb())
            return;
        if (kind != Kind::Weston) {
            startAsAccount();
            return;
        }
        const QString config = dir.path() + "/weston.ini";
        // No panel: the whole 240x320 output is the PDA's screen. No idle blanking, no
        // animations that a screenshot could catch half-way.
        writeFile(config,
                  "[core]\nidle-time=0\n"
                  "[shell]\npanel-position=none\nbackground-color=0xff202020\nlocking=false\n"
                  "animation=none\nclose-animation=none\nstartup-animation=none\nfocus-animation=none\n");
        QStringList args{backend == Backend::X11 ? "--backend=x11-backend.so" : "--backend=headless-backend.so",
                         "--use-pixman", "--width=240", "--height=320", "--socket=wayland-pda",
                         "--debug", "--config=" + config, "--log=" + dir.path() + "/weston.log"};
        compositor.setProgram(QStandardPaths::findExecutable("weston"));
        compositor.setArguments(args);
        compositor.setProcessEnvironment(environment());
        compositor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        compositor.setStandardOutputFile(QProcess::nullDevice());
        compositor.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        compositor.start();
        if (!compositor.waitForStarted(5000))
            return;
        const QString socket = socketPath();
        QElapsedTimer t;
        t.start();
        while (!QFile::exists(socket) && t.elapsed() < 10000 && compositor.state() == QProcess::Running)
            QTest::qWait(50);
        if (!QFile::exists(socket))
            return;
        // Any user may connect: the folder is ours and nobody else's.
        ::chmod(QFile::encodeName(socket).constData(), 0777);
        up = true;
    }

    ~Compositor()
    {
        for (QProcess* p : std::as_const(clients))
            stop(*p);
        qDeleteAll(clients);
        stop(compositor);
        stop(xvfb);
    }

    bool isUp() const { return up && compositor.state() == QProcess::Running; }

    // What sway or phoc wrote.
    QString log() const
    {
        QFile f(dir.path() + "/compositor.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

    // The socket, as an absolute path: good as WAYLAND_DISPLAY for a client of any user.
    QString socketPath() const { return runtime + '/' + socketName; }

    // The output's size.
    QSize size() const { return kind == Kind::Phoc ? QSize(360, 720) : QSize(240, 320); }

    // What a client of this compositor (and of its X server) needs in its environment.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert("PATH", qEnvironmentVariable("PATH", "/usr/bin:/bin"));
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("WAYLAND_DISPLAY", socketPath());
        env.insert("HOME", dir.path());
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        return env;
    }

    // Starts a Wayland client of root's (another window on the screen); false when it did
    // not start.
    bool startClient(const QString& program, const QStringList& arguments = {})
    {
        auto* p = new QProcess;
        clients.append(p);
        p->setProcessEnvironment(environment());
        p->setWorkingDirectory(dir.path());
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        p->start(program, arguments);
        return p->waitForStarted(5000);
    }

    // Ends the clients started with startClient.
    void stopClients()
    {
        for (QProcess* p : std::as_const(clients))
            stop(*p);
    }

    // The compositor's picture of its output; a null image when none was taken.
    QImage screenshot()
    {
        if (kind != Kind::Weston)
            return grim();
        const QString folder = dir.path() + "/shots";
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QProcess p;
        p.setProcessEnvironment(environment());
        p.setWorkingDirectory(folder);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStandardPaths::findExecutable("weston-screenshooter"), {});
        if (!p.waitForFinished(10000) || p.exitCode() != 0)
            return {};
        const QStringList shots = QDir(folder).entryList({"*.png"}, QDir::Files);
        return shots.isEmpty() ? QImage() : QImage(folder + '/' + shots.first());
    }

    // xdotool on the X server weston draws into: keys go to the focused Wayland client.
    bool xdotool(const QStringList& arguments)
    {
        if (display.isEmpty())
            return false;
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStandardPaths::findExecutable("xdotool"), arguments);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    // A click at (x, y) of the output: the move and the press on one connection, so they
    // reach the server in order. No "--sync": xdotool waits for the pointer to move, which
    // never happens when a click is given again at the place it already is.
    bool click(int x, int y)
    {
        return xdotool({"mousemove", QString::number(x), QString::number(y), "click", "1"});
    }

    bool key(const QString& name) { return xdotool({"key", name}); }

    // Where the X server has its pointer, "X=.. Y=.." as xdotool says it; empty without one.
    // A click that did not take tells by it whether the pointer ever got there.
    QString pointer()
    {
        if (display.isEmpty())
            return {};
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStandardPaths::findExecutable("xdotool"), {"getmouselocation"});
        if (!p.waitForFinished(10000) || p.exitCode() != 0)
            return {};
        return QString::fromLocal8Bit(p.readAllStandardOutput()).simplified();
    }

    QString display;  // the private X server, ":N" (X11 back end only)

private:
    // sway or phoc, as the test account, in a runtime folder of its own.
    void startAsAccount()
    {
        socketName.clear();
        testaccount::Account account;
        if (!testaccount::lookUp(account))
            return;
        ::chown(QFile::encodeName(runtime).constData(), account.uid, account.gid);
        ::chmod(QFile::encodeName(runtime).constData(), 0700);
        const QString config = dir.path() + (kind == Kind::Sway ? "/sway.conf" : "/phoc.ini");
        // sway: no borders or title bars, no bar, no X clients. phoc: no X clients, the
        // phone's 360x720 screen.
        writeFile(config, kind == Kind::Sway
                      ? QByteArray("output X11-1 resolution 240x320\ndefault_border none\n"
                                   "default_floating_border none\nxwayland disable\n")
                      : QByteArray("[core]\nxwayland=false\n[output:X11-1]\nmode=360x720\nscale=1\n"));
        ::chmod(QFile::encodeName(config).constData(), 0644);
        QProcessEnvironment env = environment();
        env.insert("WLR_BACKENDS", "x11");
        env.insert("WLR_RENDERER", "pixman");
        env.insert("WLR_X11_OUTPUTS", "1");
        // phoc's settings stay in memory: the account has no home.
        env.insert("GSETTINGS_BACKEND", "memory");
        env.remove("WAYLAND_DISPLAY");
        compositor.setProgram(QStandardPaths::findExecutable(kind == Kind::Sway ? "sway" : "phoc"));
        compositor.setArguments({"--config", config});
        compositor.setProcessEnvironment(env);
        compositor.setWorkingDirectory(dir.path());
        compositor.setProcessChannelMode(QProcess::MergedChannels);
        compositor.setStandardOutputFile(dir.path() + "/compositor.log");
        asAccount(compositor, account);
        compositor.start();
        if (!compositor.waitForStarted(5000))
            return;
        // Both name their socket themselves: the first in the folder, which is theirs alone.
        QElapsedTimer t;
        t.start();
        while (socketName.isEmpty() && t.elapsed() < 10000 && compositor.state() == QProcess::Running) {
            for (const QString& name : QDir(runtime).entryList({"wayland-*"}, QDir::System)) {
                if (!name.endsWith(".lock"))
                    socketName = name;
            }
            if (socketName.isEmpty())
                QTest::qWait(50);
        }
        up = !socketName.isEmpty();
        if (!up)
            qWarning("the compositor did not come up:\n%s", qPrintable(log()));
    }

    // grim as the test account, the picture on its standard output.
    QImage grim()
    {
        testaccount::Account account;
        if (!testaccount::lookUp(account))
            return {};
        QProcess p;
        p.setProcessEnvironment(environment());
        p.setWorkingDirectory(dir.path());
        asAccount(p, account);
        p.start(QStandardPaths::findExecutable("grim"), {"-t", "png", "-"});
        if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return {};
        return QImage::fromData(p.readAllStandardOutput(), "PNG");
    }

    static void asAccount(QProcess& p, const testaccount::Account& account)
    {
        const uid_t uid = account.uid;
        const gid_t gid = account.gid;
        p.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0
                || ::setresuid(uid, uid, uid) != 0)
                ::_exit(126);
            // After the change of user, which clears it.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
    }

    bool startXvfb()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        xvfb.setProgram(QStandardPaths::findExecutable("Xvfb"));
        const QString screen = QStringLiteral("%1x%2x24").arg(size().width()).arg(size().height());
        xvfb.setArguments({"-displayfd", QString::number(fds[1]), "-screen", "0", screen,
                           "-nolisten", "tcp"});
        xvfb.setProcessChannelMode(QProcess::MergedChannels);
        xvfb.setStandardOutputFile(QProcess::nullDevice());
        xvfb.setChildProcessModifier([fd = fds[1]] {
            ::fcntl(fd, F_SETFD, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        xvfb.start();
        ::close(fds[1]);
        char number[16] = {};
        pollfd p{fds[0], POLLIN, 0};
        if (xvfb.waitForStarted(5000) && ::poll(&p, 1, 10000) == 1
            && ::read(fds[0], number, sizeof number - 1) > 0)
            display = QStringLiteral(":%1").arg(QString::fromLatin1(number).trimmed());
        ::close(fds[0]);
        return !display.isEmpty();
    }

    static void writeFile(const QString& path, const QByteArray& text)
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }

    static void stop(QProcess& p)
    {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(3000)) {
            p.kill();
            p.waitForFinished(2000);
        }
    }

    Kind kind = Kind::Weston;
    QTemporaryDir dir;
    QString runtime;
    QString socketName = QStringLiteral("wayland-pda");
    QProcess xvfb;
    QProcess compositor;
    QList<QProcess*> clients;
    bool up = false;
};

using Weston = Compositor;

} // namespace e2e
