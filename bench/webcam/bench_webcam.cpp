// The card's processor time per second and the camera's preview rate with a webcam as the
// card's picture: each stand-in webcam (tools/devices/webcam_shim.c at /dev/video0) with the
// mode the card used to take (the largest, through the same pipeline as then: v4l2src, the
// size alone in the caps, decodebin) and with the mode it takes now (--source v4l2:).
//
// Baseline in the same run: the same stand-in offering YUYV 640x480 at 30 frames/s alone,
// measured before and after the others. Aims: a webcam that can do 1080p costs the card at
// most 1.3x the baseline; the preview keeps at least 0.97x of the frames the card gets from
// the webcam (the control file's source-frames over the same window).
//
//   scripts/virtual-pda --user NAME -- bench_webcam [SECONDS]
//   (root: the emulator is linked at /dev and the webcam's node made there; programs are
//    taken from this program's folder)
#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double cpuAim = 1.3, rateAim = 0.97;
const QString node = QStringLiteral("/dev/video0");

struct Case {
    const char* name;
    const char* webcam;  // the stand-in's modes
    QString source;      // the emulator's --source
    double rate;         // frames per second the webcam delivers in that mode
    bool hd;             // can do 1080p: the processor time aim applies
};

struct Result {
    double fps = -1;
    double cardMsPerSecond = -1;
    double sourceFps = -1;  // frames the card got from its source
};

long sourceFrames(const QString& control)
{
    QFile f(control);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("source-frames "))
            return line.mid(14).toLong();
    }
    return -1;
}

Result measure(const QString& bin, const Case& c, int seconds)
{
    Result r;
    bench::Setup setup;
    setup.emulator.extra = {QStringLiteral("--source"), c.source};
    setup.emulator.webcams = node + '=' + QString::fromLatin1(c.webcam);
    if (!setup.start("bench_webcam", bin))
        return r;
    bench::LogCounter frames(setup.log, "read 153600 153600");
    QProcessEnvironment env = setup.env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    long first = -1, last = -1;
    QElapsedTimer clock;
    const QString control = setup.emulator.control();
    const bench::PreviewWindow w = bench::measurePreview(
        setup.bin + QStringLiteral("/camera"), {}, env, frames, seconds, {setup.emulator.pid()},
        [&](bool start) {
            (start ? first : last) = sourceFrames(control);
            if (start)
                clock.start();
        });
    if (first >= 0 && last > first)
        r.sourceFps = double(last - first) / (double(clock.nsecsElapsed()) / 1e9);
    setup.emulator.stop();
    if (w.fps > 0) {
        r.fps = w.fps;
        r.cardMsPerSecond = w.serverMs * w.fps;
    }
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0)
        return 2;
    const QString bin = QCoreApplication::applicationDirPath();
    if (!QFileInfo::exists(QDir(bin).filePath(QStringLiteral("../tools/devices/liborvane_webcam.so")))) {
        bench::leftOut(QStringLiteral("every webcam figure"), QStringLiteral("target orvane_webcam not built"));
        return bench::exitStatus();
    }
    if (qEnvironmentVariable("PDA_DIR").isEmpty()) {
        bench::leftOut(QStringLiteral("every webcam figure"),
                       QStringLiteral("not in a virtual PDA: the launcher makes /dev/video0 in its /dev"));
        return bench::exitStatus();
    }
    if (QFileInfo::exists(node)) {
        std::fprintf(stderr, "bench_webcam: %s exists already\n", qPrintable(node));
        return 1;
    }

    const QString now = QStringLiteral("v4l2:") + node;
    const auto before = [](const char* caps) {
        return QStringLiteral("gst:v4l2src device=%1 ! %2 ! decodebin").arg(node, QString::fromLatin1(caps));
    };
    const Case baseline{"YUYV 640x480 at 30 alone", "vga", now, 30, false};
    const Case cases[] = {
        {"laptop: before (YUYV 1920x1080 at 5)", "laptop", before("video/x-raw,width=1920,height=1080"), 5, true},
        {"laptop: after", "laptop", now, 30, true},
        {"cheap YUYV: before (1280x720 at 7.5)", "cheap", before("video/x-raw,width=1280,height=720"), 7.5, false},
        {"cheap YUYV: after", "cheap", now, 30, false},
        {"MJPEG 1080p: before (1920x1080)", "mjpeg1080", before("image/jpeg,width=1920,height=1080"), 30, true},
        {"MJPEG 1080p: after", "mjpeg1080", now, 30, true},
        // Each frame decoded whole, then scaled, as before the decoder scaled while decoding.
        {"MJPEG 1080p alone: decoded whole", "MJPG 1920x1080@30",
         before("image/jpeg,width=1920,height=1080") + QStringLiteral(
             " ! videoscale ! video/x-raw,width=854,height=480,pixel-aspect-ratio=1/1"), 30, true},
        {"MJPEG 1080p alone: after", "MJPG 1920x1080@30", now, 30, true},
        // No webcam: how much of the rate the camera keeps with any live 30 or 5 frames/s source.
        {"no webcam: videotestsrc 640x480 at 30", "vga",
         QStringLiteral("gst:videotestsrc is-live=true ! video/x-raw,width=640,height=480,framerate=30/1"), 30, false},
        {"no webcam: videotestsrc 640x480 at 5", "vga",
         QStringLiteral("gst:videotestsrc is-live=true ! video/x-raw,width=640,height=480,framerate=5/1"), 5, false},
    };
    const Result baseBefore = measure(bin, baseline, seconds);
    std::vector<Result> results;
    for (const Case& c : cases)
        results.push_back(measure(bin, c, seconds));
    const Result baseAfter = measure(bin, baseline, seconds);
    if (baseBefore.fps < 0 || baseAfter.fps < 0) {
        std::fprintf(stderr, "bench_webcam: the baseline gave no preview\n");
        return 1;
    }
    const double base = (baseBefore.cardMsPerSecond + baseAfter.cardMsPerSecond) / 2;
    std::printf("the card's processor time per second and the camera's preview rate, %d s each:\n", seconds);
    std::printf("  %-40s card %6.1f ms/s (before %.1f, after %.1f)  card %5.2f frames/s  preview %5.2f frames/s\n",
                baseline.name, base, baseBefore.cardMsPerSecond, baseAfter.cardMsPerSecond,
                (baseBefore.sourceFps + baseAfter.sourceFps) / 2, (baseBefore.fps + baseAfter.fps) / 2);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const Case& c = cases[i];
        const Result& r = results[i];
        if (r.fps < 0) {
            bench::leftOut(QString::fromLatin1(c.name), QStringLiteral("the camera read no frame"));
            continue;
        }
        const double cpu = r.cardMsPerSecond / base, rate = r.fps / r.sourceFps;
        std::printf("  %-40s card %6.1f ms/s  %.2fx  card %5.2f frames/s (mode %.1f)  preview %5.2f frames/s  %.2fx",
                    c.name, r.cardMsPerSecond, cpu, r.sourceFps, c.rate, r.fps, rate);
        if (c.hd)
            std::printf("  [cpu aim <= %.1fx: %s]", cpuAim, cpu <= cpuAim ? "met" : "NOT met");
        std::printf("  [rate aim >= %.2fx: %s]\n", rateAim, rate >= rateAim ? "met" : "NOT met");
    }
    return bench::exitStatus();
}
