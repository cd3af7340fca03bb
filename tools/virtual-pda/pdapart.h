#pragma once
// One piece of the virtual PDA (a card, a screen, a bus) that a test or a bench needs of its
// own, made by the launcher the whole PDA is made by (scripts/virtual-pda --part, PDA_LAUNCHER
// in a PDA's environment): how each is started and as whom lives there alone. The piece
// runs until stop() or the end of the object, and dies with the process that asked for it.
#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

namespace pda {

class Part {
public:
    Part() = default;
    Part(const Part&) = delete;
    Part& operator=(const Part&) = delete;
    ~Part() { stop(); }

    // Empty when pieces can be asked for here; otherwise why not.
    static QString unavailableReason()
    {
        if (launcher().isEmpty())
            return QStringLiteral("not inside a virtual PDA (no PDA_LAUNCHER): run it through ctest or scripts/virtual-pda");
        return {};
    }

    static QString launcher() { return qEnvironmentVariable("PDA_LAUNCHER"); }

    // "card", "screen KIND" or "bus" for `user` in `folder` (made the user's when missing;
    // its parent must let the user pass), with the launcher's options before "--" and the
    // card emulator's own after it. Waits for the ready line; false with the reason in
    // error() when the piece did not come up.
    bool start(const QStringList& piece, const QString& user, const QString& folder,
               const QStringList& options = {}, const QStringList& emulatorArguments = {},
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        stop();
        values.clear();
        said.clear();
        QStringList args{QStringLiteral("--part")};
        args << piece << QStringLiteral("--user") << user << QStringLiteral("--folder") << folder
             << options;
        if (!emulatorArguments.isEmpty())
            args << QStringLiteral("--") << emulatorArguments;
        process.setProgram(launcher());
        process.setArguments(args);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process.start();
        if (!process.waitForStarted(5000)) {
            said = process.errorString();
            return false;
        }
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
            const qsizetype end = out.indexOf('\n');
            if (end >= 0 && out.startsWith("ready")) {
                for (const QByteArray& pair : out.left(end).split(' ').mid(1)) {
                    const qsizetype eq = pair.indexOf('=');
                    if (eq > 0)
                        values.insert(QString::fromLatin1(pair.left(eq)), QString::fromLocal8Bit(pair.mid(eq + 1)));
                }
                return true;
            }
            if (process.state() != QProcess::Running)
                break;
        }
        said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (said.isEmpty())
            said = QStringLiteral("%1 said no ready line").arg(piece.join(' '));
        stop();
        return false;
    }

    // What the ready line named (PID, NODES, LOG, DISPLAY, XAUTHORITY, WAYLAND_DISPLAY,
    // X_DISPLAY, X_AUTHORITY, BUS); empty when it did not.
    QString value(const QString& key) const { return values.value(key); }
    qint64 pid() const { return value(QStringLiteral("PID")).toLongLong(); }

    bool running() const { return process.state() == QProcess::Running; }

    // Why start() failed.
    QString error() const { return said; }

    // SIGTERM, and the launcher undoes what it made; true when the piece ended cleanly.
    bool stop(int ms = 15000)
    {
        if (process.state() == QProcess::NotRunning)
            return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        process.terminate();
        if (!process.waitForFinished(ms)) {
            process.kill();
            process.waitForFinished(2000);
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

private:
    QProcess process;
    QHash<QString, QString> values;
    QString said;
};

}  // namespace pda
