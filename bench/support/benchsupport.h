#pragma once
// Pieces the benches that run the application share: the camera card emulator linked at
// the /dev of a virtual PDA (root only), a reader of its operation log, one preview frame cycle
// through its mount, and a process's resident memory.
#include "pdapart.h"
#include "platform/devicenodes.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <vector>

namespace bench {

double median(std::vector<double> samples);

// The fixed node the application opens; present while some emulator is linked.
constexpr const char* linkedNode = pdaCameraNode;

// The card emulator from the virtual PDA's launcher (pdapart.h), linked at /dev, its nodes
// the user's; it serves as the user (scripts/bench runs the benches in a PDA).
class CardEmulator {
public:
    // Starts the emulator in `bin` with --frame-ms `frameMs`, its nodes and log in `folder`;
    // false with a message on stderr when it could not start, or when another emulator is
    // linked (outside a virtual PDA).
    bool start(const QString& bin, const QString& folder, int frameMs);
    void stop() { part.stop(); }
    QString node() const { return part.value(QStringLiteral("NODES")) + QStringLiteral("/vdc"); }
    QString control() const { return part.value(QStringLiteral("NODES")) + QStringLiteral("/control"); }
    QString log() const { return part.value(QStringLiteral("LOG")); }
    qint64 pid() const { return part.pid(); }

    // Set before start(): more arguments (a --source), stand-in webcams as the launcher's
    // --webcam takes them, and the emulator's environment.
    QStringList extra;
    QString webcams;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

private:
    pda::Part part;
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

// Processor time of a process (of several, summed) in milliseconds, from the scheduler;
// -1 when it cannot be read.
double cpuMs(qint64 pid);
double cpuMs(const std::vector<qint64>& pids);

// The programs the benches start (the camera, the baselines, the display servers, the bus)
// run as the virtual PDA's user (scripts/virtual-pda --user NAME) when the bench runs as
// root there: only the emulator's links need root. `also` runs in the child first.
void runAsUser(QProcess& process, std::function<void()> also = {});
// Gives a file or folder the bench made for those programs to that user.
void handOver(const QString& path);

// Terminates a program, killing it when it does not end within three seconds.
void stopProcess(QProcess& process);

// Keeps this process and everything it starts (the emulator, the screens, the camera) on one
// processor, as on the handheld's single core, unless BENCH_CPUS=all. On a virtual machine a
// wake-up sent to the other processor costs an exit to the host, and how many of those a
// run takes depends on where the scheduler puts each thread: that decided the figures of
// unpinned runs more than the work did. Prints which it did.
void onOneProcessor(const char* bench);

// A figure the bench could not take: a loud line on stdout, counted for exitStatus().
void leftOut(const QString& figure, const QString& reason);
// 0, or 3 when some figure was left out.
int exitStatus();

// What the benches that run the camera set up alike: a folder under /dev/shm (the camera
// wants its storage off the root file system) with HOME and a runtime folder, the emulator
// linked at frame-ms 0 and logging into it, and the environment of the programs started.
struct Setup {
    // False with a message on stderr when the folder or the emulator could not be made.
    bool start(const char* name, const QString& programs);
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QString bin;      // the benches' and the camera's folder
    QString log;      // the emulator's operation log
    QString card;     // the emulator's folder: its nodes and its log
    QString home;
    QString runtime;  // 0700
    QProcessEnvironment env;  // HOME, XDG_RUNTIME_DIR; no DISPLAY, WAYLAND_DISPLAY or bus
    QTemporaryDir dir{QStringLiteral("/dev/shm/bench-XXXXXX")};
    CardEmulator emulator;
};

// The simulated frame buffer (Qt's linuxfb over the preloaded library from the build tree,
// a 240x320 16-bit panel whose memory is the file `memory`) added to `env`; false, with
// the reason, when the library was not built.
bool addPanel(QProcessEnvironment& env, const QString& bin, const QString& memory,
              QString* reason);

// An Xvfb of `depth` bits, 240x320, from the launcher, its cookie in `folder`; DISPLAY and
// XAUTHORITY added to `env`, or false with the reason.
bool startXvfb(pda::Part& xvfb, int depth, const QString& folder, QProcessEnvironment& env, QString* reason);
// weston from the launcher with its headless back end and the pixman renderer, one 240x320
// output, its socket in `folder`; WAYLAND_DISPLAY added to `env`, or false with the reason.
bool startWeston(pda::Part& weston, const QString& folder, QProcessEnvironment& env, QString* reason);
// A session bus from the launcher at `folder`/bus; its address, or empty with the reason.
QString startBus(pda::Part& bus, const QString& folder, QString* reason);

// Processor time and frames of a preview over a measured window.
struct PreviewWindow {
    double fps = -1;       // frames read per second; negative when none came
    double cpuMs = -1;     // the program's processor time per frame
    double serverMs = -1;  // the display server's per frame; negative without one
};

// Starts `program` with `args` in `env`, waits (ten seconds at most) for its first frame in
// the log `frames` counts, lets it run two seconds, then measures over `seconds`, calling
// `window` at its start (true) and end (false); stops it.
PreviewWindow measurePreview(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env, LogCounter& frames, int seconds,
                             const std::vector<qint64>& servers = {},
                             const std::function<void(bool start)>& window = {});

}  // namespace bench
