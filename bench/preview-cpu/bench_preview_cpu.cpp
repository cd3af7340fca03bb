// Processor time per preview frame, which on a handheld is battery: the real camera
// against the emulator (frame-ms 0, so the rate is the application's own), its user and
// system time read from /proc over a measured window and divided by the frames it read
// there (the "read 153600 153600" lines of the emulator's log). The display server's time
// over the same window is given per frame too, since drawing costs there as well.
//
// Baseline in the same run, on the same card: bench_bare_loop, the same wire work with no
// toolkit and no screen (every 10 ms a status read, M=0, one frame read, M=1, "C"),
// measured before the first screen and after each one; each screen is set against the mean
// of the loop just before and just after it, since the machine's own speed drifts.
//
// Screens: the simulated frame buffer (Qt's linuxfb over the preloaded panel library, as
// on the handheld); the offscreen platform; X11 at 16 bits (the direct copy into the
// virtual frame buffer) and at 24 bits (Xvfb); Wayland, a client of weston's headless back
// end with the pixman renderer and one 240x320 output. All of them in turn make one run.
//
//   bench_preview_cpu [SECONDS [RUNS]]   (root: the emulator is linked at /dev; programs are
//                                         taken from this program's folder; 10 s, 1 run)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr double panelAim = 1.5, screenAim = 2.5;

struct Screen {
    const char* name;
    double aim;  // times the bare loop; 0 for none
    QProcessEnvironment env;
    std::vector<qint64> servers;
    std::vector<bench::PreviewWindow> figures;
    std::vector<double> ratios;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    if (seconds <= 0 || runs <= 0)
        return 2;
    bench::onOneProcessor("bench_preview_cpu");
    bench::Setup setup;
    if (!setup.start("bench_preview_cpu", QCoreApplication::applicationDirPath()))
        return 1;
    bench::LogCounter frames(setup.log, "read 153600 153600");
    const QString camera = setup.bin + QStringLiteral("/camera");
    const QString bare = setup.bin + QStringLiteral("/bench_bare_loop");
    const QStringList bareArgs{setup.emulator.node()};

    // The screens, all up before the first run and kept to the last.
    std::vector<Screen> screens;
    QString reason;
    {
        QProcessEnvironment panel = setup.env;
        if (bench::addPanel(panel, setup.bin, setup.path("panel.mem"), &reason))
            screens.push_back({"simulated panel (linuxfb 240x320x16)", panelAim, panel, {}, {}, {}});
        else
            bench::leftOut(QStringLiteral("processor time on the simulated panel"), reason);
    }
    {
        QProcessEnvironment offscreen = setup.env;
        offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        screens.push_back({"offscreen platform", 0, offscreen, {}, {}, {}});
    }
    std::vector<std::unique_ptr<pda::Part>> parts;
    for (int depth : {16, 24}) {
        parts.push_back(std::make_unique<pda::Part>());
        QProcessEnvironment x = setup.env;
        const char* folder = depth == 16 ? "x16" : "x24";
        if (!bench::startXvfb(*parts.back(), depth, setup.path(folder), x, &reason)) {
            bench::leftOut(QStringLiteral("processor time on the %1-bit X display").arg(depth), reason);
            continue;
        }
        x.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        screens.push_back({depth == 16 ? "X11, Xvfb 16-bit" : "X11, Xvfb 24-bit", screenAim, x,
                           {parts.back()->pid()}, {}, {}});
    }
    {
        parts.push_back(std::make_unique<pda::Part>());
        QProcessEnvironment w = setup.env;
        if (bench::startWeston(*parts.back(), setup.path("wayland"), w, &reason)) {
            w.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            screens.push_back({"Wayland, weston headless (pixman)", screenAim, w, {parts.back()->pid()}, {}, {}});
        } else {
            bench::leftOut(QStringLiteral("processor time on Wayland"), reason);
        }
    }

    std::vector<double> bareMs;
    auto measureBare = [&] {
        const bench::PreviewWindow loop = bench::measurePreview(bare, bareArgs, setup.env, frames, seconds);
        bareMs.push_back(loop.cpuMs);
        return loop.fps >= 0 ? loop.cpuMs : -1.0;
    };
    double before = measureBare();
    for (int run = 0; run < runs && before >= 0; ++run) {
        for (Screen& screen : screens) {
            const bench::PreviewWindow f = bench::measurePreview(camera, {}, screen.env, frames, seconds, screen.servers);
            const double after = measureBare();
            if (after < 0) {
                before = -1;
                break;
            }
            screen.figures.push_back(f);
            if (f.fps >= 0)
                screen.ratios.push_back(f.cpuMs / ((before + after) / 2));
            before = after;
        }
    }
    parts.clear();
    setup.emulator.stop();
    if (before < 0) {
        std::fprintf(stderr, "bench_preview_cpu: the bare loop read no frame\n");
        return 1;
    }

    std::printf("processor time per preview frame (user + system), %d s a window, %d run(s), frame-ms 0;\n"
                "each screen against the mean of the bare loop just before and after it:\n", seconds, runs);
    std::printf("  %-38s ms/frame", "bare loop, no toolkit (baseline)");
    for (double ms : bareMs)
        std::printf(" %.3f", ms);
    std::printf("\n");
    for (const Screen& screen : screens) {
        if (screen.ratios.empty()) {
            bench::leftOut(QStringLiteral("processor time on the %1").arg(QString::fromLatin1(screen.name)),
                           QStringLiteral("the camera read no frame there"));
            continue;
        }
        std::printf("  %-38s camera ms/frame", screen.name);
        for (const bench::PreviewWindow& f : screen.figures)
            std::printf(" %.3f", f.cpuMs);
        std::printf("; x the bare loop");
        for (double ratio : screen.ratios)
            std::printf(" %.2f", ratio);
        std::printf(" (median %.2f)", bench::median(screen.ratios));
        if (screen.aim > 0) {
            const auto met = std::count_if(screen.ratios.begin(), screen.ratios.end(),
                                           [&](double r) { return r <= screen.aim; });
            std::printf(" aim <= %.1fx: %d of %zu runs%s", screen.aim, int(met), screen.ratios.size(),
                        size_t(met) == screen.ratios.size() ? "" : " (MISSED)");
        }
        if (!screen.servers.empty()) {
            std::printf("; display server ms/frame");
            for (const bench::PreviewWindow& f : screen.figures)
                std::printf(" %.3f", f.serverMs);
        }
        std::printf("\n");
    }
    return bench::exitStatus();
}
