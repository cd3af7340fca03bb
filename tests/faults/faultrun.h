#pragma once
// What the fault scenarios need beyond the end-to-end virtual PDA: a memory card mounted at
// the fixed card folder, a camera start with a changed environment (HOME unset, a preload
// library, no DAC override), and checks of what the user keeps: pictures that decode to
// their end, a settings file that is whole, pictures' bytes across runs.
#include "e2e/cardlog.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QImageReader>
#include <QMap>
#include <QRegularExpression>

#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/syscall.h>

namespace faults {

using e2e::framesFrom;
using e2e::indexFrom;
using e2e::isFrameRead;
using e2e::waitFor;
using e2e::waitForFrames;
using e2e::waitForLine;

// The fault scenarios run the camera as root, some of them with rights taken away from it,
// so the card's nodes are root's here.
class VirtualPda : public e2e::VirtualPda {
public:
    VirtualPda() : e2e::VirtualPda(true) { cardOwner = QStringLiteral("root"); }
};

inline const char* const cardFolder = "/mnt/card";

inline QString tail(const QStringList& lines, int n = 12)
{
    return lines.mid(qMax(0, int(lines.size()) - n)).join(QStringLiteral("\n  "));
}

// ---- the camera process ------------------------------------------------------------------

struct CameraEnvironment {
    bool unsetHome = false;
    QString preload;        // LD_PRELOAD
    QString slotLog;        // where the slot-status shim notes its answers
    bool withoutDacOverride = false;
    // A file the camera sees as /etc/fstab, in a mount namespace of its own.
    QString fileSystemTable;
};

// Root without these capabilities honours the permission bits of its own files, so a file
// of mode 000 is unreadable to the camera.
inline void dropDacOverride()
{
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    const unsigned mask = ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    data[0].effective &= mask;
    data[0].permitted &= mask;
    data[0].inheritable &= mask;
    ::syscall(SYS_capset, &header, data);
}

// VirtualPda::startCamera with the changes one scenario needs.
inline bool startCamera(VirtualPda& pda, const CameraEnvironment& extra = {})
{
    QDir().mkpath(pda.home + "/.config");
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH", "/usr/bin:/bin"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!extra.unsetHome)
        env.insert("HOME", pda.home);
    env.insert("XDG_CONFIG_HOME", pda.home + "/.config");
    env.insert("XDG_RUNTIME_DIR", pda.runtime);
    env.insert("PDA_POWER_SUPPLY_DIR", pda.power);
    const QString bus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!bus.isEmpty())
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
    if (!extra.preload.isEmpty())
        e2e::preload(env, extra.preload);
    if (!extra.slotLog.isEmpty())
        env.insert("FAULTS_SLOTSTAT_LOG", extra.slotLog);
    pda.camera.setProcessEnvironment(env);
    pda.camera.setWorkingDirectory(pda.work);
    pda.camera.setProgram(qEnvironmentVariable("CAMERA_BUILD_DIR") + "/bin/camera");
    pda.camera.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const bool noDac = extra.withoutDacOverride;
    const QByteArray table = QFile::encodeName(extra.fileSystemTable);
    pda.camera.setChildProcessModifier([noDac, table] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (!table.isEmpty()
            && (::unshare(CLONE_NEWNS) != 0
                || ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0
                || ::mount(table.constData(), "/etc/fstab", nullptr, MS_BIND, nullptr) != 0))
            ::_exit(127);
        if (noDac)
            dropDacOverride();
    });
    pda.camera.start();
    return pda.camera.waitForStarted(5000);
}

// SIGKILL, and the process reaped.
inline void killCamera(VirtualPda& pda)
{
    if (pda.camera.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(pda.camera.processId()), SIGKILL);
    pda.camera.waitForFinished(5000);
}

// ---- the memory card ---------------------------------------------------------------------

// A tmpfs at the card folder for one scenario; unmounted (and the folder removed when this
// made it) at the end.
class CardMount {
public:
    explicit CardMount(const QByteArray& options)
    {
        struct stat st;
        if (::stat(cardFolder, &st) != 0) {
            made = ::mkdir(cardFolder, 0755) == 0;
            if (!made)
                return;
        }
        mounted = ::mount("pda-card", cardFolder, "tmpfs", 0, options.constData()) == 0;
    }
    ~CardMount()
    {
        unmount();
        if (made)
            ::rmdir(cardFolder);
    }
    CardMount(const CardMount&) = delete;
    CardMount& operator=(const CardMount&) = delete;

    bool ok() const { return mounted; }
    bool remountReadOnly() const
    {
        return ::mount("pda-card", cardFolder, "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    bool unmount()
    {
        if (!mounted)
            return true;
        mounted = ::umount2(cardFolder, MNT_DETACH) != 0;
        return !mounted;
    }

private:
    bool made = false;
    bool mounted = false;
};

// Fills the file system at `folder` with one file until only `leave` bytes are free (at
// most: what a block does not fill stays free too).
inline bool fillUp(const QString& folder, qint64 leave)
{
    const QByteArray name = QFile::encodeName(folder);
    const int fd = ::open((name + "/filler").constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    static const QByteArray chunk(4096, 'f');
    bool ok = false;
    for (;;) {
        struct statfs fs;
        if (::statfs(name.constData(), &fs) != 0)
            break;
        const qint64 free = qint64(fs.f_bfree) * qint64(fs.f_bsize);
        if (free <= leave) {
            ok = true;
            break;
        }
        const qint64 n = ::write(fd, chunk.constData(), size_t(qMin<qint64>(chunk.size(), free - leave)));
        if (n <= 0) {
            ok = leave == 0 && errno == ENOSPC;
            break;
        }
    }
    ::close(fd);
    return ok;
}

// ---- what the user keeps -----------------------------------------------------------------

inline bool isPictureName(const QString& fileName)
{
    static const QRegularExpression re(QStringLiteral("^pic\\d{4,}\\.jpg$"));
    return re.match(fileName).hasMatch();
}

// Every file under `root`, without the filler and the settings folder.
inline QStringList filesUnder(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName() != QLatin1String("filler") && !path.contains("/.config/"))
            found << path;
    }
    found.sort();
    return found;
}

inline QStringList picturesUnder(const QString& root)
{
    QStringList found;
    for (const QString& path : filesUnder(root)) {
        if (isPictureName(QFileInfo(path).fileName()))
            found << path;
    }
    return found;
}

inline QStringList othersUnder(const QString& root)
{
    QStringList found;
    for (const QString& path : filesUnder(root)) {
        if (!isPictureName(QFileInfo(path).fileName()))
            found << path;
    }
    return found;
}

inline int pictureNumber(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    return name.mid(3, name.size() - 7).toInt();
}

inline int highestNumber(const QStringList& pictures)
{
    int n = 0;
    for (const QString& p : pictures)
        n = qMax(n, pictureNumber(p));
    return n;
}

// Empty when the file is a whole JPEG picture: markers at both ends and a decode without
// error.
inline QString pictureProblem(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return path + ": cannot be read";
    const QByteArray bytes = f.readAll();
    if (!bytes.startsWith("\xff\xd8") || !bytes.endsWith("\xff\xd9"))
        return QStringLiteral("%1: %2 bytes, not a complete JPEG").arg(path).arg(bytes.size());
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull())
        return path + ": " + reader.errorString();
    return {};
}

inline QString picturesProblem(const QString& root)
{
    for (const QString& p : picturesUnder(root)) {
        const QString problem = pictureProblem(p);
        if (!problem.isEmpty())
            return problem;
    }
    return {};
}

inline QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

inline QMap<QString, QByteArray> hashes(const QStringList& paths)
{
    QMap<QString, QByteArray> h;
    for (const QString& p : paths)
        h[p] = fileHash(p);
    return h;
}

// "group/Key" -> value; a line that is neither "[group]" nor "Key=value" is a problem.
inline QMap<QString, QString> parseSettings(const QByteArray& text, QString* problem)
{
    QMap<QString, QString> values;
    static const QRegularExpression groupLine(QStringLiteral("^\\[(.*)\\]$"));
    static const QRegularExpression keyLine(QStringLiteral("^([^=\\[\\s][^=]*)=(.*)$"));
    QString group;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromLatin1(lines[i]);
        if (line.isEmpty())
            continue;
        QRegularExpressionMatch m = groupLine.match(line);
        if (m.hasMatch()) {
            group = m.captured(1);
            continue;
        }
        m = keyLine.match(line);
        if (!m.hasMatch()) {
            if (problem && problem->isEmpty())
                *problem = QStringLiteral("line %1 is %2").arg(i + 1).arg(line);
            continue;
        }
        values[group + '/' + m.captured(1)] = m.captured(2);
    }
    if (!text.isEmpty() && !text.endsWith('\n') && problem && problem->isEmpty())
        *problem = QStringLiteral("no line break at the end");
    return values;
}

// Empty when the settings file is whole: well-formed lines, the keys written at every exit.
inline QString settingsProblem(const QByteArray& text)
{
    QString problem;
    const QMap<QString, QString> values = parseSettings(text, &problem);
    if (!problem.isEmpty())
        return problem;
    for (const char* key : {"Option/SlowCapture", "File/Serial", "File/Remain", "File/SaveWait"}) {
        static const QRegularExpression number(QStringLiteral("^-?\\d+$"));
        if (!number.match(values.value(QLatin1String(key))).hasMatch())
            return QStringLiteral("%1 is missing or no number in:\n%2").arg(key, QString::fromLatin1(text));
    }
    return {};
}

inline int settingsSerial(const QByteArray& text)
{
    return parseSettings(text, nullptr).value("File/Serial", "-1").toInt();
}

// A small whole picture written by the test, for pictures the camera must not touch.
inline bool writeOldPicture(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    return image.save(path, "JPEG", 80);
}

}  // namespace faults
