#include "platform/mountwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pda {

bool CardNoticeFilter::fromKernel(const QByteArray& table, qint64 nowMs)
{
    // Several changes may come as one wake-up, and a bus notice may have reported this
    // table already.
    if (table == last)
        return false;
    last = table;
    awaitingEcho = true;
    kernelMs = nowMs;
    return true;
}

bool CardNoticeFilter::fromBus(const QByteArray& table, qint64 nowMs)
{
    if (table != last) {
        // The environment was quicker than our wake-up, which will now find nothing new.
        last = table;
        awaitingEcho = false;
        return true;
    }
    if (awaitingEcho) {
        awaitingEcho = false;
        if (nowMs - kernelMs <= echoWindowMs)
            return false;
    }
    // The environment's word is kept even when the table shows nothing new: it may know of
    // a card the table cannot show.
    return true;
}

MountWatcher::MountWatcher(const QByteArray& path, QObject* parent)
    : QObject(parent)
{
    fd.reset(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return;
    // The kernel marks the table's file with an exceptional condition (POLLPRI) on every
    // mount and unmount; it is always readable, so only that condition is watched.
    notifier = new QSocketNotifier(fd.get(), QSocketNotifier::Exception, this);
    connect(notifier, &QSocketNotifier::activated, this, &MountWatcher::changed);
}

MountWatcher::~MountWatcher()
{
    // The notifier goes before the descriptor it watches.
    delete notifier;
}

QByteArray MountWatcher::table() const
{
    QByteArray all;
    if (!fd.valid())
        return all;
    char chunk[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd.get(), chunk, sizeof chunk, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        all.append(chunk, n);
        offset += n;
    }
    return all;
}

} // namespace pda
