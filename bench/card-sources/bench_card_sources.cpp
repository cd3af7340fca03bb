// The card emulator's work for one frame read, per source: the synthetic test card (the
// baseline), a still image and a GStreamer source (videotestsrc, 640x480), for the 240x160
// preview, the turned 'S' preview and the 480x640 capture. A still image is sampled once per
// geometry, like the test card's still part; a live source's every frame is sampled anew,
// so each of its cycles here counts as a new frame. The source's own conversion runs on
// GStreamer's thread and is not part of a read.
// Then the whole preview cycle (M=0, read, M=1) through the emulator's mount at frame-ms 0
// with the test card and with the still image; a GStreamer source's cycle there is paced by
// its frame rate (a read waits for a new frame), shown for videotestsrc's 30 a second.
//
//   bench_card_sources [CYCLES]     (the emulator is taken from this program's folder)
#include "bench/support/benchsupport.h"
#include "tools/card-emulator/core/picturerenderer.h"
#include "tools/card-emulator/core/scene.h"
#include "tools/card-emulator/sources/sources.h"

#include <QCoreApplication>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Microseconds per call of `cycle`, the median of five batches.
template <typename F>
double perCycleUs(int cycles, F cycle)
{
    for (int i = 0; i < 20; ++i)
        cycle(i);
    std::vector<double> batches;
    for (int b = 0; b < 5; ++b) {
        const auto start = Clock::now();
        for (int i = 0; i < cycles; ++i)
            cycle(i);
        batches.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count()
                          / cycles);
    }
    return medianOf(batches);
}

card::FramePtr startSource(const std::string& description, std::unique_ptr<card::FrameSource>& source)
{
    std::string error;
    if (!card::makeSource(description, source, error) || !source || !source->start(error)) {
        std::fprintf(stderr, "bench_card_sources: %s: %s\n", description.c_str(), error.c_str());
        return nullptr;
    }
    std::uint64_t number;
    return source->newest(number);
}

// The preview cycle through a mount of the emulator with `source`, in milliseconds; the
// emulator from the virtual PDA's launcher, as the benches that run the camera have it.
double mountCycleMs(const QString& source, int cycles)
{
    bench::Setup setup;
    setup.emulator.extra = {QStringLiteral("--source"), source};
    if (!setup.start("bench_card_sources", QCoreApplication::applicationDirPath()))
        return -1;
    return bench::frameCycleMs(setup.emulator.node(), cycles);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 500;
    if (cycles <= 0)
        return 2;

    // A 640x480 photograph-like still: gradients, so no two neighbours are alike.
    QTemporaryDir dir;
    const QString still = dir.path() + "/still.png";
    {
        QImage image(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 255 / 639, y * 255 / 479, (x ^ y) & 255));
        image.save(still);
    }
    std::unique_ptr<card::FrameSource> imageSource, gstSource;
    const card::FramePtr imageFrame = startSource("image:" + still.toStdString(), imageSource);
    card::FramePtr gstFrame;
#ifdef CARD_HAVE_GSTREAMER
    gstFrame = startSource("gst:videotestsrc pattern=smpte ! video/x-raw,width=640,height=480",
                           gstSource);
    if (gstSource)
        gstSource->stop();  // one frame is enough; its thread would only add noise
#endif
    if (!imageFrame)
        return 1;

    struct Case {
        const char* name;
        card::Geometry geometry;
    };
    const Case cases[] = {
        {"preview R 240x160", {true, 240, 160, 256, 480}},
        {"preview S 160x240", {false, 160, 240, 256, 320}},
        {"capture R 480x640", {true, 480, 640, 256, 960}},
        {"capture S 640x480", {false, 640, 480, 256, 1280}},
    };
    std::printf("%-20s %12s %12s %8s %12s %8s\n", "frame", "pattern us", "image us", "ratio",
                "gst us", "ratio");
    for (const Case& c : cases) {
        const card::Geometry& g = c.geometry;
        std::vector<std::uint8_t> buffer(std::size_t(g.stride) * g.height);
        card::TestCardScene scene;
        card::FrameRenderer pattern(scene);
        const double patternUs = perCycleUs(cycles, [&](int i) {
            pattern.render(g, 1, card::SceneTime{std::uint32_t(i * 33), std::uint32_t(i)},
                           buffer.data(), buffer.size());
        });
        card::PictureRenderer images;
        const double imageUs = perCycleUs(cycles, [&](int) {
            images.render(g, 1, imageFrame, 1, buffer.data(), buffer.size());
        });
        double gstUs = 0;
        if (gstFrame) {
            card::PictureRenderer live;
            std::uint64_t number = 1;
            gstUs = perCycleUs(cycles, [&](int) {
                live.render(g, 1, gstFrame, ++number, buffer.data(), buffer.size());
            });
        }
        std::printf("%-20s %12.1f %12.1f %8.2f %12.1f %8.2f\n", c.name, patternUs, imageUs,
                    imageUs / patternUs, gstUs, gstUs / patternUs);
    }

    const int mountCycles = std::max(50, cycles / 2);
    const double patternMs = mountCycleMs("pattern", mountCycles);
    const double imageMs = mountCycleMs("image:" + still, mountCycles);
    std::printf("\nthrough the mount, preview R 240x160: pattern %.3f ms, image %.3f ms, "
                "ratio %.2f\n", patternMs, imageMs, imageMs / patternMs);
#ifdef CARD_HAVE_GSTREAMER
    const double gstMs = mountCycleMs("gst:videotestsrc pattern=smpte", 60);
    std::printf("through the mount, gst:videotestsrc at 30 frames a second: %.1f ms\n", gstMs);
#endif
    return 0;
}
