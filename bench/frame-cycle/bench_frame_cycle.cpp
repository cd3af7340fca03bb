// One preview frame cycle through the camera card emulator's mount (M=0, one read of
// 153,600 bytes, M=1) at frame-ms 0, against a plain memcpy of the same frame in the same
// run. The application's tick is 10 ms; a cycle must stay far below it.
//
//   bench_frame_cycle [CYCLES]     (the emulator is taken from this program's folder; run
//                                   in a virtual PDA, as scripts/bench does)
#include "bench/support/benchsupport.h"
#include "device/cameradevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double microsecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (cycles <= 0)
        return 2;
    // The emulator from the virtual PDA's launcher, as the benches that run the camera have it.
    bench::Setup setup;
    if (!setup.start("bench_frame_cycle", QCoreApplication::applicationDirPath()))
        return 1;

    double cycleUs = 0;
    bool ok = true;
    QImage image(240, 320, QImage::Format_RGB16);
    {
        const QByteArray node = setup.emulator.node().toLocal8Bit();
        CameraDevice device(node.constData());
        device.sendGeometry(image, true, 240, 160, 256);
        for (int i = 0; i < 50; ++i)  // warm up: caches, threads, the still picture
            ok = device.readFrame(image) && ok;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < cycles; ++i)
            ok = device.readFrame(image) && ok;
        cycleUs = microsecondsSince(start) / cycles;
    }

    std::vector<unsigned char> source(size_t(image.sizeInBytes()), 0x5a);
    volatile unsigned char sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i) {
        std::memcpy(image.bits(), source.data(), source.size());
        source[size_t(i) % source.size()] = (unsigned char)i;  // keep the copy honest
        sink = sink + image.constBits()[size_t(i) % source.size()];
    }
    const double copyUs = microsecondsSince(start) / cycles;

    setup.emulator.stop();
    std::printf("frame cycle through the mount: %.1f us per cycle (%d cycles%s)\n", cycleUs,
                cycles, ok ? "" : ", SOME READS FAILED");
    std::printf("memcpy of the same %lld bytes: %.2f us\n", (long long)image.sizeInBytes(),
                copyUs);
    std::printf("ratio: %.1f; share of the 10 ms tick: %.1f %%\n", cycleUs / copyUs,
                cycleUs / 100.0);
    return ok ? 0 : 1;
}
