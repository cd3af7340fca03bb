#pragma once
// One virtual PDA for an end-to-end test: a tmpfs as the internal storage (the camera
// refuses a HOME on the root file system), a power supply on mains, the card emulator
// linked at /dev/orvane_vdc, and the real camera binary on the offscreen platform.
// The test runs inside scripts/virtual-pda (CTest starts it so), whose mount namespace
// gives it a /dev and a /mnt/card of its own: the links and the card's mounts are the
// test's alone, and nothing of the host changes.
// Only the mounts and links are root's: the camera and the card emulator run as the test
// account (see support/testaccount.h), which owns its HOME, its runtime folder and the
// card's nodes; the emulator comes from the launcher the whole PDA comes from (pdapart.h),
// and what the test makes in HOME it makes as that account (asAccount).
// Everything is undone by the destructor: processes stopped, mount detached.
#include "pdapart.h"
#include "support/cardfiles.h"
#include "support/testaccount.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {

// Empty when the tests can run here; otherwise why not.
inline QString unavailableReason()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root: tmpfs mounts and the /dev/orvane_* links");
    const int fd = ::open("/dev/fuse", O_RDWR);
    if (fd < 0)
        return QStringLiteral("/dev/fuse cannot be opened: %1").arg(qt_error_string(errno));
    ::close(fd);
    if (qEnvironmentVariable("CAMERA_BUILD_DIR").isEmpty())
        return QStringLiteral("CAMERA_BUILD_DIR is not set");
    return {};
}

inline const char* const deviceNode = "/dev/orvane_vdc";
inline const char* const buzzerNode = "/dev/orvane_buz";

inline bool nodeExists(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}

// A test that links /dev/orvane_* or mounts at /mnt/card does so only inside a virtual
// PDA, never on the host; empty when it is in one.
inline QString outsideVirtualPda()
{
    if (qEnvironmentVariable("PDA_DIR").isEmpty())
        return QStringLiteral("not inside a virtual PDA: run it through ctest or scripts/virtual-pda");
    return {};
}

// LD_PRELOAD takes blanks for separators: the library goes by its name alone, found in its
// folder through LD_LIBRARY_PATH, where a blank is no separator.
inline void preload(QProcessEnvironment& env, const QString& path)
{
    const int slash = int(path.lastIndexOf('/'));
    env.insert(QStringLiteral("LD_PRELOAD"), path.mid(slash + 1));
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), path.left(qMax(slash, 0)));
}

// Children die with the test, so a crashed test leaves no emulator holding the links.
inline void dieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

class VirtualPda {
public:
    // The camera runs as the test account, or as root where `cameraAsRoot`.
    explicit VirtualPda(bool cameraAsRoot = false)
    {
        storage = dir.path() + "/storage";
        work = dir.path() + "/work";
        power = dir.path() + "/power";
        cardFolder = dir.path() + "/card";
        mountDir = cardFolder + "/card";
        logPath = cardFolder + "/card.log";
        runtime = dir.path() + "/runtime";
        QDir().mkpath(storage);
        QDir().mkpath(work);
        QDir().mkpath(power + "/AC");
        writeFile(power + "/AC/type", "Mains\n");
        writeFile(power + "/AC/online", "1\n");
        if (!cameraAsRoot)
            testaccount::lookUp(account);
        // The camera's account's own file system: it makes its HOME there itself.
        const QByteArray options =
            QStringLiteral("size=16m,mode=0755,uid=%1,gid=%2").arg(account.uid).arg(account.gid).toLatin1();
        mounted = ::mount("pda-home", QFile::encodeName(storage).constData(), "tmpfs", 0, options.constData()) == 0;
        setHome(storage + "/home");
        // The camera's way to its HOME and its card's nodes leads through our folder.
        ::chmod(QFile::encodeName(dir.path()).constData(), 0711);
        QDir().mkpath(runtime);
        ::chmod(QFile::encodeName(runtime).constData(), 0700);
    }

    ~VirtualPda()
    {
        stopProcess(camera, 10000);
        emulator.stop();
        if (mounted)
            ::umount2(QFile::encodeName(storage).constData(), MNT_DETACH);
    }

    bool ready() const { return dir.isValid() && mounted; }

    // HOME somewhere on the storage tmpfs; made with its settings folder when used.
    void setHome(const QString& path) { home = path; }
    QString picturesDir() const { return home + "/Documents/Image_Files"; }
    QString settingsPath() const { return home + "/.config/OrvaneCamera.conf"; }

    void writeSettings(const QByteArray& text) const
    {
        asAccount([&] {
            QDir().mkpath(home + "/.config");
            if (!text.isEmpty())
                writeFile(settingsPath(), text);
        });
    }

    // Runs `work` with the camera's account as the file-system identity of this thread:
    // what it makes in the account's folders is the account's from the start, and root
    // never changes an owner there.
    template <typename F>
    void asAccount(F work) const
    {
        const int oldGid = ::setfsgid(account.gid);
        const int oldUid = ::setfsuid(account.uid);
        work();
        ::setfsuid(uid_t(oldUid));
        ::setfsgid(gid_t(oldGid));
    }

    bool startEmulator()
    {
        QByteArray out;
        if (startEmulatorOnce(out))
            return true;
        qWarning("emulator did not come up: %s", out.constData());
        return false;
    }

    // Stand-in webcams for the emulator, "/dev/video0=meta;/dev/video1=laptop" (modes as
    // tools/devices/webcam_shim.c takes them), their nodes made in the PDA's own /dev when
    // the emulator starts; a node removed is a webcam unplugged. While `heldFile` exists
    // another program holds them. Empty when done, else why not.
    QString addWebcams(const QString& description, const QString& heldFile = {})
    {
        if (const QString outside = outsideVirtualPda(); !outside.isEmpty())
            return outside;
        const QString shim = qEnvironmentVariable("CAMERA_BUILD_DIR") + "/tools/devices/liborvane_webcam.so";
        if (!QFile::exists(shim))
            return QStringLiteral("no %1 (target orvane_webcam not built)").arg(shim);
        webcams = description;
        if (!heldFile.isEmpty())
            emulatorEnv.insert("WEBCAM_SHIM_HELD", heldFile);
        return {};
    }

    static bool plugWebcam(const QString& node, bool in)
    {
        QFile f(node);
        return in ? f.open(QIODevice::WriteOnly) : f.remove();
    }

    // The environment the camera runs in, with `cameraEnv` added.
    QProcessEnvironment cameraEnvironment() const
    {
        QProcessEnvironment env;
        env.insert("PATH", qEnvironmentVariable("PATH", "/usr/bin:/bin"));
        if (display.isEmpty()) {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        } else {
            env.insert("QT_QPA_PLATFORM", "xcb");
            env.insert("DISPLAY", display);
            env.insert("XAUTHORITY", xauthority);
        }
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("PDA_POWER_SUPPLY_DIR", power);
        const QString bus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        if (!bus.isEmpty())
            env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        env.insert(cameraEnv);
        return env;
    }

    // Starts `process` as the camera, run by the test account with everything the test made
    // in HOME handed over to it; its standard error is kept to read when `keepErrors`, or
    // goes to `errorFile` when that is set.
    bool startCameraProcess(QProcess& process, bool keepErrors = false)
    {
        asAccount([&] { QDir().mkpath(home + "/.config"); });
        // Root's own folder, made for the camera's account.
        ::chown(QFile::encodeName(runtime).constData(), account.uid, account.gid);
        process.setProcessEnvironment(cameraEnvironment());
        process.setWorkingDirectory(work);
        process.setProgram(qEnvironmentVariable("CAMERA_BUILD_DIR") + "/bin/camera");
        if (keepErrors)
            process.setProcessChannelMode(QProcess::SeparateChannels);
        else if (errorFile.isEmpty())
            process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        else
            process.setStandardErrorFile(errorFile);
        const uid_t uid = account.uid;
        const gid_t gid = account.gid;
        const mode_t mask = cameraUmask;
        process.setChildProcessModifier([uid, gid, mask] {
            ::umask(mask);
            if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0
                || ::setresuid(uid, uid, uid) != 0)
                ::_exit(126);
            // After the change of user, which clears it.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        process.start();
        return process.waitForStarted(5000);
    }

    bool startCamera(bool keepErrors = false) { return startCameraProcess(camera, keepErrors); }

    bool cameraRunning() const { return camera.state() == QProcess::Running; }

    // An X display for the camera instead of the offscreen platform (":N"), when set, and
    // its cookie.
    QString display;
    QString xauthority;

    // SIGTERM, as the desktop ends an application; the exit code, or -1 when it did not
    // end by itself within the time or died of a signal (a warning tells which).
    int terminateCamera(int ms = 10000)
    {
        if (camera.state() == QProcess::NotRunning) {
            if (camera.exitStatus() != QProcess::NormalExit) {
                qWarning("the camera had crashed before SIGTERM (signal %d)", camera.exitCode());
                return -1;
            }
            return camera.exitCode();
        }
        camera.terminate();
        if (!camera.waitForFinished(ms)) {
            qWarning("the camera did not end within %d ms of SIGTERM; killed", ms);
            camera.kill();
            camera.waitForFinished(2000);
            return -1;
        }
        if (camera.exitStatus() != QProcess::NormalExit) {
            qWarning("the camera crashed after SIGTERM (signal %d)", camera.exitCode());
            return -1;
        }
        return camera.exitCode();
    }

    bool control(const QByteArray& command) const
    {
        return cardfiles::writeControl(QFile::encodeName(mountDir + "/control"), command + '\n');
    }

    QStringList log() const { return cardfiles::logLines(logPath); }

    QByteArray settings() const
    {
        QFile f(settingsPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static void writeFile(const QString& path, const QByteArray& text)
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }

    QTemporaryDir dir;
    QString storage;  // the tmpfs
    QString home;
    QString work;     // the camera's working directory
    QString power;
    QString runtime;  // the camera's XDG_RUNTIME_DIR
    QString cardFolder;  // the emulator's: its nodes (mountDir) and its log
    QString mountDir;
    QString logPath;
    pda::Part emulator;
    QProcess camera;
    testaccount::Account account;  // the camera's user
    QString cardOwner = QString::fromLatin1(testaccount::name);
    mode_t cameraUmask = 022;
    QString errorFile;  // where the camera's standard error goes, else to ours
    QProcessEnvironment cameraEnv;  // added to (or replacing) the camera's environment
    QStringList emulatorArguments;  // added to the emulator's command line
    QProcessEnvironment emulatorEnv = QProcessEnvironment::systemEnvironment();
    QString webcams;  // set by addWebcams

private:
    bool startEmulatorOnce(QByteArray& out)
    {
        QStringList options;
        if (!webcams.isEmpty())
            options << "--webcam" << webcams;
        // The account serves the card; the nodes are the card owner's.
        const bool up = emulator.start({"card"}, QString::fromLatin1(testaccount::name), cardFolder, options,
                                       QStringList{"--owner", cardOwner, "--link", "--frame-ms", "10"}
                                           + emulatorArguments,
                                       emulatorEnv);
        if (!up)
            out = emulator.error().toLocal8Bit();
        return up;
    }

    static void stopProcess(QProcess& p, int ms)
    {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(ms)) {
            p.kill();
            p.waitForFinished(2000);
        }
    }

    bool mounted = false;
};

// Polls `done` until it holds or `ms` have passed.
template <typename F>
bool waitFor(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (done())
            return true;
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(10);
    }
}

}  // namespace e2e
