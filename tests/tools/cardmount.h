#pragma once
// A running camera-card-emulator for tests: started with QProcess on a fresh mount, and
// stopped with SIGTERM.
#include "support/cardfiles.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

class CardMount {
public:
    // Empty when FUSE cannot be used here; the reason a test skips with.
    static QString unavailableReason()
    {
        const int fd = ::open("/dev/fuse", O_RDWR);
        if (fd < 0)
            return QStringLiteral("/dev/fuse cannot be opened: %1").arg(qt_error_string(errno));
        ::close(fd);
        if (geteuid() != 0 && QStandardPaths::findExecutable("fusermount3").isEmpty())
            return QStringLiteral("no fusermount3 to mount as a user");
        // A cross-built test under qemu-user cannot start another program of its own
        // architecture.
        QProcess probe;
        probe.start(emulatorPath(), {QStringLiteral("--version")});
        if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit)
            return QStringLiteral("camera-card-emulator cannot be started here: %1")
                .arg(probe.errorString());
        return {};
    }

    static QString emulatorPath()
    {
        return qEnvironmentVariable("CAMERA_BUILD_DIR") + "/bin/camera-card-emulator";
    }

    ~CardMount() { stop(); }

    bool start(const QStringList& extra = {})
    {
        if (!dir.isValid())
            return false;
        mountPath = dir.path() + "/card";
        logPath = dir.path() + "/card.log";
        QStringList args{"--mount", mountPath, "--log", logPath, "--frame-ms", "0"};
        args += extra;
        process.setProgram(emulatorPath());
        process.setProcessEnvironment(environment);
        process.setArguments(args);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            process.waitForReadyRead(100);
            if (process.readAllStandardOutput().contains("ready"))
                return true;
            if (process.state() != QProcess::Running)
                return false;
        }
        return false;
    }

    // SIGTERM and wait; true when it exited by itself with status 0.
    bool stop()
    {
        if (process.state() == QProcess::NotRunning)
            return stoppedCleanly;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(2000);
            stoppedCleanly = false;
            return false;
        }
        stoppedCleanly =
            process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        return stoppedCleanly;
    }

    // What the emulator starts with: the test's own environment unless changed.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    QByteArray node(const char* name) const { return (mountPath + '/' + name).toLocal8Bit(); }

    bool control(const QByteArray& command) const
    {
        return cardfiles::writeControl(node("control"), command);
    }

    // The control file's "name value" lines.
    QByteArray stateValue(const QByteArray& name) const
    {
        QFile f(QString::fromLocal8Bit(node("control")));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return {};
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith(name + ' '))
                return line.mid(name.size() + 1);
        }
        return {};
    }

    QStringList logLines() const { return cardfiles::logLines(logPath); }

    // Release reaches the card after close() returned; wait for its line.
    QStringList logLinesUntil(const QString& last, int count = 1) const
    {
        QElapsedTimer t;
        t.start();
        QStringList lines;
        while (t.elapsed() < 3000) {
            lines = logLines();
            if (lines.count(last) >= count)
                break;
            QTest::qWait(10);
        }
        return lines;
    }

    void clearLog() const
    {
        QFile f(logPath);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }

    bool mounted() const
    {
        QFile f("/proc/self/mounts");
        if (!f.open(QIODevice::ReadOnly))
            return false;
        return f.readAll().contains(' ' + mountPath.toLocal8Bit() + ' ');
    }

    QTemporaryDir dir;
    QString mountPath;
    QString logPath;
    QProcess process;
    bool stoppedCleanly = false;
};

// An open descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd = -1) : value(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int fd = -1)
    {
        if (value >= 0)
            ::close(value);
        value = fd;
    }
    int get() const { return value; }

private:
    int value;
};
