// The application's own preview rate with the emulator at frame-ms 0, against the tick
// loop without a screen (a 10 ms timer, stopped on each tick, then the status read, the
// frame cycle M=0/read/M=1 and "C", the timer started again) through the same mount, in the
// same run: measured before the first run, between runs and after the last, each run's
// screens against the mean of the loop before and after it. Aim: at least 0.97x the loop
// on the simulated panel, the 16-bit and the 24-bit X display and Wayland, in every run.
//
// Also the ceiling 1000 / (10 + one frame cycle in ms) of a loop that waits its 10 ms and
// does nothing but the frame cycle, and the tick loop with a precise timer, to tell the
// screen's share from the timer's.
//
// The rate is what the application's own measurement (key Delete) counts: frames read,
// here the "read 153600 153600" lines of the emulator's log over a measured window.
//
// Screens, in turn in each run: the offscreen platform (for comparison), Qt's linuxfb over
// the simulated frame buffer (240x320, 16-bit; the preload library from the build tree),
// Xvfb 240x320 at 16 and at 24 bits (xcb), and weston's headless back end (pixman, one
// 240x320 output, Qt's wayland platform).
//
//   bench_preview_rate [SECONDS [RUNS]]   (root: the emulator is linked at /dev; programs
//                                          are taken from this program's folder; 10 s, 5 runs)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr double aim = 0.97;

struct Screen {
    QString name;
    bool aimed;  // the aim holds for it
    // Starts what the screen needs and fills in the camera's environment; false with the
    // reason when it cannot.
    std::function<bool(QProcessEnvironment&, QString*)> up;
    std::vector<double> rates, ratios;
    QString leftOutReason;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (seconds <= 0 || runs <= 0)
        return 2;
    bench::onOneProcessor("bench_preview_rate");
    bench::Setup setup;
    if (!setup.start("bench_preview_rate", QCoreApplication::applicationDirPath()))
        return 1;
    const QString node = setup.emulator.node();
    const int loopSeconds = seconds / 2 + 1;
    const double cycleBefore = bench::frameCycleMs(node, 1000);

    pda::Part xvfb, weston;
    std::vector<Screen> screens;
    screens.push_back({QStringLiteral("offscreen platform"), false,
                       [](QProcessEnvironment& env, QString*) {
                           env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
                           return true;
                       }, {}, {}, {}});
    screens.push_back({QStringLiteral("simulated frame buffer (linuxfb 240x320x16)"), true,
                       [&setup](QProcessEnvironment& env, QString* reason) {
                           return bench::addPanel(env, setup.bin, setup.path("panel.mem"), reason);
                       }, {}, {}, {}});
    for (int depth : {16, 24}) {
        screens.push_back({QStringLiteral("%1-bit X display (Xvfb 240x320x%1, xcb)").arg(depth), true,
                           [&xvfb, &setup, depth](QProcessEnvironment& env, QString* reason) {
                               env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
                               return bench::startXvfb(xvfb, depth, setup.path("x"), env, reason);
                           }, {}, {}, {}});
    }
    screens.push_back({QStringLiteral("Wayland (weston headless, pixman)"), true,
                       [&weston, &setup](QProcessEnvironment& env, QString* reason) {
                           env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
                           return bench::startWeston(weston, setup.path("wayland"), env, reason);
                       }, {}, {}, {}});

    bench::LogCounter frames(setup.log, "read 153600 153600");
    std::vector<double> loops{bench::tickLoopRate(node, loopSeconds, Qt::CoarseTimer)};
    for (int run = 0; run < runs; ++run) {
        std::vector<double> rates;
        for (Screen& screen : screens) {
            QProcessEnvironment env = setup.env;
            QString reason;
            double rate = -1;
            if (screen.up(env, &reason)) {
                rate = bench::measurePreview(setup.bin + QStringLiteral("/camera"), {}, env, frames,
                                             seconds).fps;
                if (rate < 0)
                    reason = QStringLiteral("the camera read no frame there");
            }
            xvfb.stop();
            weston.stop();
            if (rate < 0 && screen.leftOutReason.isEmpty())
                screen.leftOutReason = reason;
            rates.push_back(rate);
        }
        loops.push_back(bench::tickLoopRate(node, loopSeconds, Qt::CoarseTimer));
        const double loop = (loops[size_t(run)] + loops[size_t(run) + 1]) / 2;
        for (size_t i = 0; i < screens.size(); ++i) {
            if (rates[i] < 0)
                continue;
            screens[i].rates.push_back(rates[i]);
            screens[i].ratios.push_back(rates[i] / loop);
        }
    }
    const double cycleAfter = bench::frameCycleMs(node, 1000);
    const double preciseLoop = bench::tickLoopRate(node, loopSeconds, Qt::PreciseTimer);
    setup.emulator.stop();
    if (cycleBefore < 0 || cycleAfter < 0) {
        std::fprintf(stderr, "bench_preview_rate: a frame cycle failed\n");
        return 1;
    }
    const double cycle = (cycleBefore + cycleAfter) / 2;
    const double ceiling = 1000.0 / (10.0 + cycle);
    double coarseLoop = 0;
    for (double l : loops)
        coarseLoop += l;
    coarseLoop /= double(loops.size());
    std::printf("frame cycle through the mount: %.3f ms (before %.3f, after the runs %.3f)\n",
                cycle, cycleBefore, cycleAfter);
    std::printf("ceiling 1000 / (10 + cycle): %.2f frames/s\n", ceiling);
    std::printf("the tick loop without a screen (status, frame cycle, C): coarse timer %.2f frames/s "
                "(%.1f %% of the ceiling; between runs:", coarseLoop, 100.0 * coarseLoop / ceiling);
    for (double l : loops)
        std::printf(" %.2f", l);
    std::printf("), precise timer %.2f frames/s (%.1f %%)\n", preciseLoop, 100.0 * preciseLoop / ceiling);
    std::printf("the camera, %d s a run, %d runs; ratio to the tick loop of the same run:\n", seconds, runs);
    for (const Screen& screen : screens) {
        if (screen.rates.size() < size_t(runs)) {
            bench::leftOut(QStringLiteral("preview rate on the %1 (%2 of %3 runs)")
                               .arg(screen.name).arg(screen.rates.size()).arg(runs),
                           screen.leftOutReason);
            if (screen.rates.empty())
                continue;
        }
        double low = screen.rates[0], high = low;
        int met = 0;
        for (size_t i = 0; i < screen.rates.size(); ++i) {
            low = std::min(low, screen.rates[i]);
            high = std::max(high, screen.rates[i]);
            met += screen.ratios[i] >= aim;
        }
        std::printf("  %-44s %.2f-%.2f frames/s  ratios", qPrintable(screen.name), low, high);
        for (double r : screen.ratios)
            std::printf(" %.3f", r);
        std::printf("  %d of %d >= %.2f", met, runs, aim);
        if (screen.aimed)
            std::printf(" (aim: %d of %d: %s)", runs, runs, met == runs ? "met" : "MISSED");
        std::printf("\n");
    }
    return bench::exitStatus();
}
