#pragma once
// A real X server without a window manager for the end-to-end suites, and the X client
// tools they look at it with.
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <QFile>
#include <QTemporaryDir>

#include "pdapart.h"
#include "support/testaccount.h"

#include <sys/stat.h>

namespace e2e {

// Xvfb for one test from the virtual PDA's launcher: 240x320 at 16 bits, no window
// manager, run by the test account, reached with its cookie; gone with the object.
class XServer {
public:
    XServer()
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty())
            return;
        // The account passes through to the folder of its cookie, which the launcher makes.
        ::chmod(QFile::encodeName(dir.path()).constData(), 0711);
        if (!server.start({"screen", "xvfb"}, QString::fromLatin1(testaccount::name), dir.path() + "/x")) {
            qWarning("Xvfb did not come up: %s", qPrintable(server.error()));
            return;
        }
        display = server.value("DISPLAY");
        authority = server.value("XAUTHORITY");
    }

    QString display;    // empty when none came up
    QString authority;  // its cookie

private:
    QTemporaryDir dir;
    pda::Part server;
};

// What an X client tool prints on `display`, trimmed; empty when it failed.
inline QString x11(const XServer& x, const QString& program, const QStringList& arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.display);
    env.insert("XAUTHORITY", x.authority);
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The root window's children, top of the stack first.
inline QStringList stackTopFirst(const XServer& x)
{
    QStringList ids;
    const QRegularExpression child("^\\s+(0x[0-9a-f]+) ");
    for (const QString& line : x11(x, "xwininfo", {"-root", "-children"}).split('\n')) {
        const QRegularExpressionMatch m = child.match(line);
        if (m.hasMatch())
            ids << m.captured(1);
    }
    return ids;
}


}  // namespace e2e
