#pragma once
// A compositor for one test, from the virtual PDA's launcher (pdapart.h), as the test
// account, in a runtime folder of its own, with the pixman renderer:
// - weston, its debug protocol on (for weston-screenshooter), on a 240x320 output like the
//   handheld's screen. Two back ends:
//   - X11, inside a private 24-bit Xvfb: its seat has a keyboard, so a Wayland client there
//     becomes the active window, and xdotool's keys and clicks reach the focused client;
//   - headless: a seat without a keyboard, where no window is ever active;
// - sway, a tiling compositor that offers idle-inhibit and xdg-activation, on a 240x320
//   output in its X11 back end, or one of another size (a phone's, where it tiles the
//   camera's window larger than its form);
// - phoc, a phone's compositor, on a 360x720 output in its X11 back end: it maximises
//   every window.
// grim takes sway's and phoc's screenshots. Everything ends with the object.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "pdapart.h"
#include "support/testaccount.h"

#include <grp.h>
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
        if (const QString outside = pda::Part::unavailableReason(); !outside.isEmpty())
            return outside;
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
        if (const QString outside = pda::Part::unavailableReason(); !outside.isEmpty())
            return outside;
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

    explicit Compositor(Kind kind_, Backend backend = Backend::X11) : Compositor(kind_, QSize(), backend) {}

    // `output` empty: the kind's own size.
    Compositor(Kind kind_, const QSize& output_, Backend backend = Backend::X11)
        : kind(kind_),
          output(!output_.isEmpty()   ? output_
                 : kind_ == Kind::Phoc ? QSize(360, 720)
                                       : QSize(240, 320))
    {
        // The account passes through to its runtime folder, which the launcher makes.
        ::chmod(QFile::encodeName(dir.path()).constData(), 0711);
        runtime = dir.path() + "/runtime";
        const QString name = kind == Kind::Sway ? "sway"
            : kind == Kind::Phoc               ? "phoc"
            : backend == Backend::Headless     ? "weston-headless"
                                               : "weston";
        QStringList options;
        if (kind == Kind::Sway)
            options << "--output" << QStringLiteral("%1x%2").arg(output.width()).arg(output.height());
        if (!screen.start({"screen", name}, QString::fromLatin1(testaccount::name), runtime, options)) {
            qWarning("the compositor did not come up: %s", qPrintable(screen.error()));
            return;
        }
        socket = screen.value("WAYLAND_DISPLAY");
        display = screen.value("X_DISPLAY");
        authority = screen.value("X_AUTHORITY");
    }

    ~Compositor()
    {
        for (QProcess* p : std::as_const(clients))
            stop(*p);
        qDeleteAll(clients);
    }

    bool isUp() const { return !socket.isEmpty() && screen.running(); }

    // What the compositor wrote.
    QString log() const
    {
        QFile f(screen.value("LOG"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

    // The socket, as an absolute path: good as WAYLAND_DISPLAY for a client of any user.
    QString socketPath() const { return socket; }

    // The output's size.
    QSize size() const { return output; }

    // What a client of this compositor (and of its X server) needs in its environment.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert("PATH", qEnvironmentVariable("PATH", "/usr/bin:/bin"));
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("WAYLAND_DISPLAY", socketPath());
        env.insert("HOME", dir.path());
        if (!display.isEmpty()) {
            env.insert("DISPLAY", display);
            env.insert("XAUTHORITY", authority);
        }
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
        if (p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        qWarning("xdotool %s: %s, status %d: %s", qPrintable(arguments.join(' ')),
                 p.state() == QProcess::NotRunning ? "ended" : "still running after 10 s", p.exitCode(),
                 p.readAllStandardError().constData());
        return false;
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

    QString display;    // the private X server, ":N" (X11 back end only)
    QString authority;  // its cookie

private:
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
    QSize output;
    QTemporaryDir dir;
    QString runtime;
    QString socket;
    pda::Part screen;
    QList<QProcess*> clients;
};

using Weston = Compositor;

} // namespace e2e
