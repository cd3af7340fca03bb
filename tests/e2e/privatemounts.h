#pragma once
// A mount namespace of the test's own: its mounts stay inside, and the mounts other
// programs on the machine make never reach it, so the mount table changes only when the
// test changes it.
#include <QByteArray>
#include <QFile>
#include <QList>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace e2e {

// Call before any thread starts. True when the namespace is the test's own.
inline bool privateMounts()
{
    if (geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0)
        return false;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    // Other tests' mounts copied in at this moment would still vanish from here when their
    // folders are removed (the kernel detaches mounts on a removed folder everywhere): drop
    // them now. Such test mounts live under /tmp and /mnt.
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return true;
    // The folders the virtual PDA opened on the way to the build tree stay.
    const QList<QByteArray> opened = qgetenv("PDA_OPENED").split('\n');
    const auto isOpened = [&opened](const QByteArray& point) {
        for (const QByteArray& folder : opened) {
            if (!folder.isEmpty() && (point == folder || point.startsWith(folder + '/')))
                return true;
        }
        return false;
    };
    QList<QByteArray> points;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() <= 4)
            continue;
        // Blanks, tabs, newlines and backslashes come as octal escapes.
        QByteArray point = fields[4];
        for (qsizetype i = point.indexOf('\\'); i >= 0 && i + 3 < point.size(); i = point.indexOf('\\', i + 1))
            point.replace(i, 4, QByteArray(1, char(point.mid(i + 1, 3).toInt(nullptr, 8))));
        if ((point.startsWith("/tmp/") || point.startsWith("/mnt/")) && !isOpened(point))
            points.prepend(point);  // later mounts may sit on earlier ones
    }
    for (const QByteArray& point : std::as_const(points))
        ::umount2(point.constData(), MNT_DETACH);
    return true;
}

}  // namespace e2e
