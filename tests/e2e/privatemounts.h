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
    QList<QByteArray> points;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && (fields[4].startsWith("/tmp/") || fields[4].startsWith("/mnt/")))
            points.prepend(fields[4]);  // later mounts may sit on earlier ones
    }
    for (const QByteArray& point : std::as_const(points))
        ::umount2(point.constData(), MNT_DETACH);
    return true;
}

}  // namespace e2e
