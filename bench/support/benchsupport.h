#pragma once
// Pieces the benches that run the application share: the camera card emulator linked at
// the /dev of a virtual PDA (root only), a reader of its operation log, one preview frame cycle
// through its mount, and a process's resident memory.
#include "platform/devicenodes.h"

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <vector>

namespace bench {

double median(std::vector<double> samples);

// The fixed node the application opens; present while some emulator is linked.
constexpr const char* linkedNode = pdaCameraNode;

class CardEmulator {
public:
    ~CardEmulator();
    // Starts the emulator from `folder` on `mount` with --link and --frame-ms `frameMs`,
    // logging to `log`; false with a message on stderr when it could not start, or when
    // another emulator is linked (outside a virtual PDA).
    bool start(const QString& folder, const QString& mount, const QString& log, int frameMs);
    void stop();
    QString node() const { return mountPath + QStringLiteral("/vdc"); }

private:
    QProcess process;
    QString mountPath;
};

// Reads an operation log as it grows and counts the lines equal to `line`.
class LogCounter {
public:
    LogCounter(const QString& path, const QByteArray& line) : path(path), wanted(line) {}
    // Reads what was appended since the last call; returns the count so far.
    long update();
    long count() const { return matches; }

private:
    QString path;
    QByteArray wanted;
    qint64 offset = 0;
    QByteArray partial;
    long matches = 0;
};

// Mean duration in milliseconds of one preview frame cycle (M=0, one read of 153,600 bytes,
// M=1) through `node`, over `cycles` cycles after a warm-up; a negative value when a read
// failed.
double frameCycleMs(const QString& node, int cycles);

// Frames per second of a model of the application's preview loop without the screen: a
// 10 ms timer of type `type`, stopped on each tick, then the status read, the frame cycle
// and "C", then the timer started again, for `seconds` seconds through `node`.
double tickLoopRate(const QString& node, int seconds, Qt::TimerType type);

// VmRSS of a process in kB, or -1.
long residentKb(qint64 pid);

}  // namespace bench
