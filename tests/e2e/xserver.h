#pragma once
// A real X server without a window manager for the end-to-end suites, and the X client
// tools they look at it with.
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace e2e {

// Xvfb for one test: 240x320 at 16 bits, no window manager, gone with the object.
class XServer {
public:
    XServer()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            return;
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        process.setProgram(xvfb);
        process.setArguments({"-displayfd", QString::number(fds[1]), "-screen", "0", "240x320x16",
                              "-nolisten", "tcp"});
        process.setChildProcessModifier([fd = fds[1]] { ::fcntl(fd, F_SETFD, 0); });
        process.start();
        ::close(fds[1]);
        char number[16] = {};
        pollfd p{fds[0], POLLIN, 0};
        if (process.waitForStarted(5000) && ::poll(&p, 1, 10000) == 1
            && ::read(fds[0], number, sizeof number - 1) > 0)
            display = QStringLiteral(":%1").arg(QString::fromLatin1(number).trimmed());
        ::close(fds[0]);
    }
    ~XServer()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
    QProcess process;
    QString display; // empty when none came up
};


// What an X client tool prints on `display`, trimmed; empty when it failed.
inline QString x11(const QString& display, const QString& program, const QStringList& arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The root window's children, top of the stack first.
inline QStringList stackTopFirst(const QString& display)
{
    QStringList ids;
    const QRegularExpression child("^\\s+(0x[0-9a-f]+) ");
    for (const QString& line : x11(display, "xwininfo", {"-root", "-children"}).split('\n')) {
        const QRegularExpressionMatch m = child.match(line);
        if (m.hasMatch())
            ids << m.captured(1);
    }
    return ids;
}


}  // namespace e2e
