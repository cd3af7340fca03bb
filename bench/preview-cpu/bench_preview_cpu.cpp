// Processor time per preview frame, which on a handheld is battery: the real camera
// against the emulator (frame-ms 0, so the rate is the application's own), its user and
// system time read from /proc over a measured window and divided by the frames it read
// there (the "read 153600 153600" lines of the emulator's log). The display server's time
// over the same window is given per frame too, since drawing costs there as well.
//
// Baseline in the same run, on the same card: bench_bare_loop, the same wire work with no
// toolkit and no screen (every 10 ms a status read, M=0, one frame read, M=1, "C"),
// measured before and after the camera's runs.
//
// Screens: the simulated frame buffer (Qt's linuxfb over the preloaded panel library, as
// on the handheld); the offscreen platform; X11 at 16 bits (the direct copy into the
// virtual frame buffer) and at 24 bits (Xvfb); Wayland, a client of weston's headless back
// end with the pixman renderer and one 240x320 output.
//
//   bench_preview_cpu [SECONDS]   (root: the emulator is linked at /dev; programs are
//                                  taken from this program's folder)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double panelAim = 1.5, screenAim = 2.5;

struct Row {
    const char* name;
    double aim;  // times the bare loop; 0 for none
    bench::PreviewWindow figures;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0)
        return 2;
    bench::onOneProcessor("bench_preview_cpu");
    bench::Setup setup;
    if (!setup.start("bench_preview_cpu", QCoreApplication::applicationDirPath()))
        return 1;
    bench::LogCounter frames(setup.log, "read 153600 153600");
    const QString camera = setup.bin + QStringLiteral("/camera");
    const QString bare = setup.bin + QStringLiteral("/bench_bare_loop");
    const QStringList bareArgs{setup.emulator.node()};

    const bench::PreviewWindow bareBefore = bench::measurePreview(bare, bareArgs, setup.env, frames, seconds);
    if (bareBefore.fps < 0) {
        std::fprintf(stderr, "bench_preview_cpu: the bare loop read no frame\n");
        return 1;
    }
    std::vector<Row> rows;
    QString reason;
    {
        QProcessEnvironment panel = setup.env;
        if (bench::addPanel(panel, setup.bin, setup.path("panel.mem"), &reason))
            rows.push_back({"simulated panel (linuxfb 240x320x16)", panelAim,
                            bench::measurePreview(camera, {}, panel, frames, seconds)});
        else
            bench::leftOut(QStringLiteral("processor time on the simulated panel"), reason);
    }
    {
        QProcessEnvironment offscreen = setup.env;
        offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        rows.push_back({"offscreen platform", 0, bench::measurePreview(camera, {}, offscreen, frames, seconds)});
    }
    for (int depth : {16, 24}) {
        pda::Part xvfb;
        QProcessEnvironment x = setup.env;
        if (!bench::startXvfb(xvfb, depth, setup.path("x"), x, &reason)) {
            bench::leftOut(QStringLiteral("processor time on the %1-bit X display").arg(depth), reason);
            continue;
        }
        x.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        rows.push_back({depth == 16 ? "X11, Xvfb 16-bit" : "X11, Xvfb 24-bit", screenAim,
                        bench::measurePreview(camera, {}, x, frames, seconds, {xvfb.pid()})});
    }
    {
        pda::Part weston;
        QProcessEnvironment w = setup.env;
        if (bench::startWeston(weston, setup.path("wayland"), w, &reason)) {
            w.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            rows.push_back({"Wayland, weston headless (pixman)", screenAim,
                            bench::measurePreview(camera, {}, w, frames, seconds, {weston.pid()})});
        } else {
            bench::leftOut(QStringLiteral("processor time on Wayland"), reason);
        }
    }
    const bench::PreviewWindow bareAfter = bench::measurePreview(bare, bareArgs, setup.env, frames, seconds);
    setup.emulator.stop();
    if (bareAfter.fps < 0) {
        std::fprintf(stderr, "bench_preview_cpu: the bare loop read no frame\n");
        return 1;
    }
    const double base = (bareBefore.cpuMs + bareAfter.cpuMs) / 2;

    std::printf("processor time per preview frame (user + system), %d s each, frame-ms 0:\n", seconds);
    std::printf("  %-38s %6.2f frames/s  %.3f ms/frame (before %.3f, after %.3f)\n",
                "bare loop, no toolkit (baseline)", (bareBefore.fps + bareAfter.fps) / 2, base,
                bareBefore.cpuMs, bareAfter.cpuMs);
    for (const Row& row : rows) {
        const bench::PreviewWindow& f = row.figures;
        if (f.fps < 0) {
            bench::leftOut(QStringLiteral("processor time on the %1").arg(QString::fromLatin1(row.name)),
                           QStringLiteral("the camera read no frame there"));
            continue;
        }
        const double ratio = f.cpuMs / base;
        std::printf("  %-38s %6.2f frames/s  camera %.3f ms/frame  %.2fx the bare loop", row.name,
                    f.fps, f.cpuMs, ratio);
        if (row.aim > 0)
            std::printf(" (aim <= %.1fx: %s)", row.aim, ratio <= row.aim ? "met" : "MISSED");
        if (f.serverMs >= 0)
            std::printf("  display server %.3f ms/frame", f.serverMs);
        std::printf("\n");
    }
    return bench::exitStatus();
}
