// Shutter lag: from the press of the card's button (the emulator's control file) to the
// picture appearing under its name in the picture folder (inotify), and to "Saved" on the
// screen (the simulated panel's memory: the message label's box over the viewfinder). The
// camera runs with its settings file choosing the Portrait 480x640 format, at its default
// quality (Normal, 30).
//
// Baseline in the same run, on the same card: bench_bare_loop, which on the button does the
// same capture with no toolkit (the capture geometry, one 480x640 read, the plain 5-6-5 to
// RGB loop and libjpeg-turbo at the camera's default quality, the file written and synced,
// linked at its name, the folder synced, "B"). Its presses come before and after the
// camera's. Each press comes just after a preview frame was read (the emulator's log), so
// that both programs meet it at the same point of their loops. Median of PRESSES presses each, after one that is not counted. Aim: the camera's
// picture at most 1.2x the bare loop's.
//
//   bench_shutter_lag [PRESSES]   (root: the emulator is linked at /dev; programs are
//                                  taken from this program's folder; 15 presses)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Pictures appearing in one folder under their names: a link or a rename into it.
class FolderWatch {
public:
    explicit FolderWatch(const QString& folder)
    {
        fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd >= 0)
            ::inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_TO);
    }
    ~FolderWatch()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;
    bool valid() const { return fd >= 0; }

    // True when a visible .jpg name appeared since the last call.
    bool pictureAppeared()
    {
        alignas(inotify_event) char buffer[4096];
        bool found = false;
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return found;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                const char* name = event->len ? event->name : "";
                const size_t length = std::strlen(name);
                if (name[0] != '.' && length > 4 && std::strcmp(name + length - 4, ".jpg") == 0)
                    found = true;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int fd = -1;
};

// The simulated panel's memory, 240x320 RGB 5-6-5, mapped read-only.
class Panel {
public:
    ~Panel()
    {
        if (pixels)
            ::munmap(const_cast<quint16*>(pixels), size);
    }
    bool map(const QString& file)
    {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        struct stat st = {};
        // A shorter file would fault on the first read past its end.
        if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < off_t(size)) {
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED)
            return false;
        pixels = static_cast<const quint16*>(p);
        return true;
    }
    // The message label (a box of 154x50 at 40,60 of the viewfinder, the frozen preview
    // showing through) shows: its frame's top and bottom lines are one colour where they
    // cross the four quarters of the test scene (red, green, blue, yellow), in Portrait as
    // in Landscape.
    bool labelShown() const
    {
        const quint16 a = at(90, 60);
        return a != 0 && at(150, 60) == a && at(90, 108) == a && at(150, 108) == a;
    }

private:
    quint16 at(int x, int y) const { return pixels[y * 240 + x]; }
    static constexpr size_t size = 240 * 320 * 2;
    const quint16* pixels = nullptr;
};

bool press(const QString& control)
{
    QFile f(control);
    return f.open(QIODevice::WriteOnly) && f.write("shutter\n") == 8;
}

// The card's button released again: the program answered the press with "B".
bool released(const QString& control, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        QFile f(control);
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains("\nshutter 0\n"))
            return true;
        QThread::msleep(5);
    }
    return false;
}

struct Press {
    double fileMs = -1;
    double savedMs = -1;
};

// One press: the times to the picture's name and, with a panel, to "Saved"; waits until the
// press is answered and the preview runs again.
Press pressOnce(const QString& control, FolderWatch& watch, const Panel* panel,
                bench::LogCounter& frames)
{
    Press p;
    watch.pictureAppeared();
    if (panel && panel->labelShown()) {
        std::fprintf(stderr, "bench_shutter_lag: the label area looks like the label before the press\n");
        return p;
    }
    // Pressed just after a preview frame was read, at the same point of either program's
    // loop: the wait for its next status read is then its tick, not chance.
    const long before = frames.update();
    const auto waiting = Clock::now();
    while (frames.update() == before && msSince(waiting) < 1000)
        ::usleep(50);
    const auto start = Clock::now();
    if (!press(control))
        return p;
    while (msSince(start) < 5000 && (p.fileMs < 0 || (panel && p.savedMs < 0))) {
        if (p.fileMs < 0 && watch.pictureAppeared())
            p.fileMs = msSince(start);
        if (panel && p.savedMs < 0 && panel->labelShown())
            p.savedMs = msSince(start);
        ::usleep(100);
    }
    if (p.fileMs < 0)
        std::fprintf(stderr, "bench_shutter_lag: no picture within 5 s of the press\n");
    if (panel && p.savedMs < 0)
        std::fprintf(stderr, "bench_shutter_lag: no \"Saved\" on the panel within 5 s of the press\n");
    released(control, 5000);
    QThread::msleep(300);  // the label gone and the preview running again
    return p;
}

// Starts `program`, waits for its preview, presses `presses` + 1 times; the figures of all
// but the first press appended.
bool pressRun(const QString& program, const QStringList& args, const QProcessEnvironment& env,
              const QString& folder, const QString& control, bench::LogCounter& frames,
              const QString& panelMemory, int presses, std::vector<double>& fileMs,
              std::vector<double>& savedMs)
{
    QDir().mkpath(folder);
    bench::handOver(folder);
    FolderWatch watch(folder);
    if (!watch.valid())
        return false;
    QProcess process;
    process.setProcessEnvironment(env);
    bench::runAsUser(process);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForStarted(5000))
        return false;
    frames.update();
    const long before = frames.count();
    QElapsedTimer waited;
    waited.start();
    while (frames.update() < before + 50 && waited.elapsed() < 10000)
        QThread::msleep(5);
    Panel panel;
    const bool withPanel = !panelMemory.isEmpty();
    bool ok = frames.count() >= before + 50 && (!withPanel || panel.map(panelMemory));
    for (int i = -1; ok && i < presses; ++i) {
        const Press p = pressOnce(control, watch, withPanel ? &panel : nullptr, frames);
        ok = p.fileMs >= 0 && (!withPanel || p.savedMs >= 0);
        if (ok && i >= 0) {
            fileMs.push_back(p.fileMs);
            if (withPanel)
                savedMs.push_back(p.savedMs);
        }
    }
    bench::stopProcess(process);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int presses = argc > 1 ? std::atoi(argv[1]) : 15;
    if (presses <= 0)
        return 2;
    bench::Setup setup;
    if (!setup.start("bench_shutter_lag", QCoreApplication::applicationDirPath()))
        return 1;
    const QString control = setup.emulator.control();
    bench::LogCounter frames(setup.log, "read 153600 153600");
    const QString bare = setup.bin + QStringLiteral("/bench_bare_loop");
    const QString node = setup.emulator.node();
    std::vector<double> bareMs, cameraMs, savedMs, unused;

    if (!pressRun(bare, {node, setup.path("bare-before")}, setup.env, setup.path("bare-before"),
                  control, frames, {}, presses, bareMs, unused)) {
        std::fprintf(stderr, "bench_shutter_lag: the bare loop did not take its pictures\n");
        return 1;
    }
    QProcessEnvironment env = setup.env;
    const QString memory = setup.path("panel.mem");
    QString reason;
    const bool panel = bench::addPanel(env, setup.bin, memory, &reason);
    if (!panel) {
        bench::leftOut(QStringLiteral("shutter lag to \"Saved\" on the screen"), reason);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    // The camera's own choice at start is the 480x320 Landscape format; the Portrait one
    // captures the 480x640 the bare loop reads.
    QDir().mkpath(setup.home + QStringLiteral("/.config"));
    QFile settings(setup.home + QStringLiteral("/.config/OrvaneCamera.conf"));
    if (!settings.open(QIODevice::WriteOnly) || settings.write("[Option]\nDispMode=1\nResolution=0\n") < 0) {
        std::fprintf(stderr, "bench_shutter_lag: cannot write the camera's settings\n");
        return 1;
    }
    settings.close();
    const QString pictures = setup.home + QStringLiteral("/Documents/Image_Files");
    QDir().mkpath(pictures);
    for (const char* made : {"/.config", "/.config/OrvaneCamera.conf", "/Documents", "/Documents/Image_Files"})
        bench::handOver(setup.home + QString::fromLatin1(made));
    if (!pressRun(setup.bin + QStringLiteral("/camera"), {}, env, pictures, control, frames,
                  panel ? memory : QString(), presses, cameraMs, savedMs)) {
        std::fprintf(stderr, "bench_shutter_lag: the camera did not take its pictures%s\n",
                     panel ? " or never showed \"Saved\"" : "");
        return 1;
    }
    if (!pressRun(bare, {node, setup.path("bare-after")}, setup.env, setup.path("bare-after"),
                  control, frames, {}, presses, bareMs, unused)) {
        std::fprintf(stderr, "bench_shutter_lag: the bare loop did not take its pictures\n");
        return 1;
    }
    setup.emulator.stop();

    const double base = bench::median(bareMs);
    const double file = bench::median(cameraMs);
    std::printf("shutter lag from the card's button, median of %d presses (the bare loop: %d before "
                "and %d after the camera's):\n", presses, presses, presses);
    std::printf("  bare loop: picture under its name      %7.2f ms\n", base);
    std::printf("  camera: picture under its name         %7.2f ms  %.2fx the bare loop (aim <= 1.2x: %s)\n",
                file, file / base, file / base <= 1.2 ? "met" : "MISSED");
    std::printf("  each press, ms: bare loop");
    for (double ms : bareMs)
        std::printf(" %.1f", ms);
    std::printf("; camera");
    for (double ms : cameraMs)
        std::printf(" %.1f", ms);
    if (panel) {
        std::printf("; \"Saved\"");
        for (double ms : savedMs)
            std::printf(" %.1f", ms);
    }
    std::printf("\n");
    if (panel) {
        const double saved = bench::median(savedMs);
        std::printf("  camera: \"Saved\" on the panel           %7.2f ms  %.2fx the bare loop's picture\n",
                    saved, saved / base);
    }
    return bench::exitStatus();
}
