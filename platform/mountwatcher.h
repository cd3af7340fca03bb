#pragma once
// Memory-card notices on a desktop: the kernel's mount table is watched, and each change
// becomes one "mtabChanged()" on "QPE/Card" for the process's own channels. Internal to the
// platform library.
#include "platform/uniquefd.h"

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace pda {

// Decides, for each notice, whether it tells the listeners something new. A change is seen
// twice where a real environment runs: the kernel tells us, and the environment sends its
// own notice over the bus, before or after ours.
class CardNoticeFilter {
public:
    // How long after a change of its own the filter takes a bus notice for the environment's
    // report of that change. The environment is woken by the same kernel event.
    static constexpr qint64 echoWindowMs = 2000;

    explicit CardNoticeFilter(QByteArray table = QByteArray()) : last(std::move(table)) {}
    // The kernel signalled a change; `table` is the mount table now, `nowMs` a monotonic clock.
    bool fromKernel(const QByteArray& table, qint64 nowMs);
    // A notice came over the bus.
    bool fromBus(const QByteArray& table, qint64 nowMs);

private:
    QByteArray last;           // the mount table at the last notice let through
    bool awaitingEcho = false; // the last one came from the kernel, the bus has not followed
    qint64 kernelMs = 0;       // when it came
};

class MountWatcher : public QObject {
    Q_OBJECT
public:
    // Watches `path` (the mount table of this process by default). Does nothing when it
    // cannot be opened.
    explicit MountWatcher(const QByteArray& path = "/proc/self/mountinfo",
                          QObject* parent = nullptr);
    ~MountWatcher() override;
    bool isWatching() const { return fd.valid(); }
    QByteArray table() const;

signals:
    void changed();

private:
    UniqueFd fd;
    QSocketNotifier* notifier = nullptr;
};

} // namespace pda
