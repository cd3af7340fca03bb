// The viewfinder refresh's own cost, without the device read, against a memcpy of the same
// number of bytes measured in the same run:
//   (a) planBlit + runBlit of the Portrait full-screen preview (240x320, one block copy) and
//       of the Square one (240x240, row copies) into a 320x240 16-bit buffer;
//   (b) the same blits through QDirectPainter on the virtual frame buffer: construct on a
//       shown 240x320 widget, blit, destroy, and let the presentation repaint finish;
//   (c) painter mode: QPainter::drawImage of the 240x320 frame onto a QImage and onto a
//       shown widget (repaint);
//   (d) where (b) goes: reading the 240x320 logical screen back out of the 320x240 virtual
//       frame buffer pixel by pixel through pda::logicalToPhysical (as the presentation
//       does), against a row loop with pointer steps and Qt's 90-degree image rotation.
// Every figure is the median over many batches, in microseconds per refresh.
//
//   QT_QPA_PLATFORM=offscreen bench_blit [BATCHES]
//
// On Qt's linuxfb platform over the simulated panel (a 320x240 16-bit panel, as the
// handheld's) it measures instead
//   (e) the direct blit into the panel's mapped memory through QDirectPainter: Portrait and
//       Square previews in the handheld's geometry, against a memcpy of the same bytes into
//       the same memory:
//   LD_PRELOAD=build/tools/devices/liborvane_framebuffer.so FB_SHIM_SIZE=320x240
//   QT_QPA_PLATFORM=linuxfb:fb=/dev/fb0:tty=/dev/null QT_QPA_FB_DISABLE_INPUT=1 bench_blit
#include "platform/directpainter.h"
#include "platform/virtualscreen.h"
#include "viewfinder/blit.h"

#include <QApplication>
#include <QBackingStore>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QTransform>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

double batchUs(int perBatch, const std::function<void()>& body)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < perBatch; ++i)
        body();
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / perBatch;
}

double median(std::vector<double>& samples)
{
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

// Medians, in microseconds per call, of `batches` batches of `perBatch` calls of `body` and
// of `baseline`, the batches of the two taken in turn so that a busy moment of the machine
// weighs on both alike.
struct Pair {
    double us;
    double baselineUs;
};

Pair measure(int batches, int perBatch, const std::function<void()>& body,
             const std::function<void()>& baseline)
{
    batchUs(perBatch, body);  // warm up caches and lazy set-up
    batchUs(perBatch, baseline);
    std::vector<double> a, b;
    for (int i = 0; i < batches; ++i) {
        a.push_back(batchUs(perBatch, body));
        b.push_back(batchUs(perBatch, baseline));
    }
    return {median(a), median(b)};
}

// The preview image of direct mode: 320x240 RGB565, rows as the card sends them.
QImage previewFrame()
{
    QImage image(320, 240, QImage::Format_RGB16);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint16*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = quint16(x * 7 + y * 131);
    }
    return image;
}

// The refresh's geometry for a W x H preview centred on the 240x320 logical screen, the
// frame buffer being 320x240 (rotation 1).
BlitInput fullScreenInput(int w, int h, const QImage& image)
{
    BlitInput in;
    in.rotation = 1;
    in.x = (240 - w) >> 1;
    in.y = (320 - h) >> 1;
    in.width = w;
    in.height = h;
    in.screenWidth = 240;
    in.screenHeight = 320;
    in.visible = QRect(0, 0, 320, 240);
    in.lineStep = 640;
    in.imageBytesPerLine = int(image.bytesPerLine());
    in.imageHeight = image.height();
    return in;
}

size_t bytesOf(const BlitPlan& plan)
{
    return size_t(plan.rows) * size_t(plan.rowBytes);
}

// Keeps the compiler from dropping a copy nobody reads.
volatile unsigned char sink;

struct Row {
    const char* name;
    double us;
    double baselineUs;
};

void print(const Row& row)
{
    std::printf("  %-48s %9.2f us   memcpy %7.2f us   ratio %7.2f\n", row.name, row.us,
                row.baselineUs, row.us / row.baselineUs);
}

// The viewfinder in painter mode: clears, then draws the frame, as the refresh's paint does.
class PainterView : public QWidget {
public:
    explicit PainterView(const QImage& frame) : frame(frame) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.drawImage(QPoint(0, 0), frame, QRect(0, 0, 240, 320));
    }

private:
    const QImage& frame;
};

// (e): the blit into the simulated panel's memory, the geometry of the handheld (a 320x240
// panel shown as a 240x320 screen); Qt draws the panel unrotated, so the visible rectangle
// is the whole panel and only the copy is measured.
int panelBench(int batches, const QImage& preview)
{
    QWidget screen;
    screen.setGeometry(0, 0, 320, 240);
    screen.show();
    QCoreApplication::processEvents();
    QDirectPainter painter(&screen);
    if (painter.numRects() != 1 || painter.rect(0) != QRect(0, 0, 320, 240) || painter.lineStep() < 640) {
        std::fprintf(stderr, "bench_blit: needs a 320x240 16-bit panel (FB_SHIM_SIZE=320x240)\n");
        return 1;
    }
    unsigned char* panel = painter.frameBuffer();
    std::printf("(e) planBlit + runBlit into the simulated panel's mapped memory (line %d bytes)\n",
                painter.lineStep());
    const struct {
        const char* name;
        int w, h;
    } cases[] = {{"Portrait 240x320", 240, 320}, {"Square 240x240", 240, 240}};
    for (const auto& c : cases) {
        BlitInput in = fullScreenInput(c.w, c.h, preview);
        in.lineStep = painter.lineStep();
        const BlitPlan plan = planBlit(in);
        const size_t bytes = bytesOf(plan);
        std::printf("  %s: %zu bytes, %d rows of %d, block %s\n", c.name, bytes, plan.rows,
                    plan.rowBytes, plan.block ? "yes" : "no");
        const Pair p = measure(batches, 200, [&] {
            runBlit(planBlit(in), panel, preview.constBits());
            sink = panel[size_t(plan.destination)];
        }, [&] {
            std::memcpy(panel, preview.constBits(), bytes);
            sink = panel[bytes - 1];
        });
        print({c.name, p.us, p.baselineUs});
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The virtual frame buffer of the device: 240x320 logical, 320x240 in memory.
    qputenv("PDA_SCREEN_ROTATION", "1");
    QApplication app(argc, argv);
    const int batches = argc > 1 ? std::atoi(argv[1]) : 301;
    if (batches <= 0)
        return 2;

    const QImage preview = previewFrame();
    if (QGuiApplication::platformName() == QLatin1String("linuxfb"))
        return panelBench(batches, preview);
    std::vector<unsigned char> frameBuffer(size_t(640) * 240, 0);

    // ---- (a) the geometry and the copy alone --------------------------------------------
    struct Case {
        const char* name;
        int w, h;
    };
    const Case cases[] = {{"Portrait 240x320 (block copy)", 240, 320},
                          {"Square 240x240 (row copies)", 240, 240}};
    auto copyOf = [&](size_t bytes, const unsigned char* from) {
        return [&frameBuffer, bytes, from] {
            std::memcpy(frameBuffer.data(), from, bytes);
            sink = frameBuffer[bytes - 1];
        };
    };
    std::printf("(a) planBlit + runBlit into a 320x240 16-bit buffer\n");
    for (const Case& c : cases) {
        const BlitInput in = fullScreenInput(c.w, c.h, preview);
        const BlitPlan plan = planBlit(in);
        const size_t bytes = bytesOf(plan);
        std::printf("  %s: %zu bytes, %d rows of %d, block %s\n", c.name, bytes, plan.rows,
                    plan.rowBytes, plan.block ? "yes" : "no");
        const Pair p = measure(batches, 200, [&] {
            runBlit(planBlit(in), frameBuffer.data(), preview.constBits());
            sink = frameBuffer[size_t(plan.destination)];
        }, copyOf(bytes, preview.constBits()));
        print({c.name, p.us, p.baselineUs});
    }

    // ---- (b) through the direct painter on the virtual frame buffer ----------------------
    QWidget viewfinder;
    viewfinder.setAutoFillBackground(true);  // black, as the application's viewfinder frame
    QPalette black = viewfinder.palette();
    black.setColor(QPalette::Window, Qt::black);
    viewfinder.setPalette(black);
    viewfinder.setGeometry(0, 0, 240, 320);
    viewfinder.show();
    app.processEvents();

    std::printf("(b) QDirectPainter on the virtual frame buffer (construct, blit, destroy, "
                "presentation repaint)\n");
    const int slowBatches = batches / 3 + 1;
    for (const Case& c : cases) {
        const size_t bytes = bytesOf(planBlit(fullScreenInput(c.w, c.h, preview)));
        int drawn = 0;
        const Pair p = measure(slowBatches, 10, [&] {
            {
                QDirectPainter painter(&viewfinder);
                if (painter.numRects() == 1) {
                    BlitInput in = fullScreenInput(c.w, c.h, preview);
                    in.x += painter.xOffset();
                    in.y += painter.yOffset();
                    in.visible = painter.rect(0);
                    in.lineStep = painter.lineStep();
                    runBlit(planBlit(in), painter.frameBuffer(), preview.constBits());
                    ++drawn;
                }
            }
            app.processEvents();
        }, copyOf(bytes, preview.constBits()));
        if (drawn == 0) {
            std::fprintf(stderr, "bench_blit: the direct painter never had one rectangle\n");
            return 1;
        }
        print({c.name, p.us, p.baselineUs});
    }

    // ---- (c) painter mode ---------------------------------------------------------------
    std::printf("(c) painter mode: QPainter::drawImage of the 240x320 frame (153600 bytes)\n");
    QImage portrait(240, 320, QImage::Format_RGB16);
    std::memcpy(portrait.bits(), preview.constBits(), size_t(portrait.sizeInBytes()));
    const auto frameCopy = copyOf(size_t(portrait.sizeInBytes()), portrait.constBits());
    struct Target {
        const char* name;
        QImage::Format format;
    };
    const Target targets[] = {{"onto a QImage RGB16", QImage::Format_RGB16},
                              {"onto a QImage RGB32", QImage::Format_RGB32},
                              {"onto a QImage ARGB32 premultiplied",
                               QImage::Format_ARGB32_Premultiplied}};
    for (const Target& t : targets) {
        QImage target(240, 320, t.format);
        target.fill(Qt::black);
        const Pair p = measure(batches, 50, [&] {
            QPainter painter(&target);
            painter.drawImage(QPoint(0, 0), portrait);
        }, frameCopy);
        print({t.name, p.us, p.baselineUs});
    }
    PainterView view(portrait);
    view.setGeometry(0, 0, 240, 320);
    view.show();
    app.processEvents();
    const Pair p = measure(slowBatches, 20, [&] {
        view.repaint();
        app.processEvents();
    }, frameCopy);
    print({"onto a shown widget (clear, draw, repaint)", p.us, p.baselineUs});
    std::printf("backing store of the shown widget: %s\n",
                view.backingStore() && view.backingStore()->paintDevice()->devType() == QInternal::Image
                    ? qPrintable(QString::number(int(static_cast<QImage*>(view.backingStore()->paintDevice())->format())))
                    : "not an image");

    // ---- (d) the presentation's read-back of the virtual frame buffer ----------------------
    std::printf("(d) reading the 240x320 logical screen out of the 320x240 frame buffer\n");
    const QImage physical(frameBuffer.data(), 320, 240, 640, QImage::Format_RGB16);
    QImage logical(240, 320, QImage::Format_RGB16);
    const auto fbCopy = copyOf(size_t(640) * 240, preview.constBits());
    auto perPixel = [&] {
        for (int y = 0; y < 320; ++y) {
            auto* line = reinterpret_cast<quint16*>(logical.scanLine(y));
            for (int x = 0; x < 240; ++x) {
                const QPoint p = pda::logicalToPhysical(QPoint(x, y), 1, 240, 320);
                line[x] = reinterpret_cast<const quint16*>(physical.constScanLine(p.y()))[p.x()];
            }
        }
    };
    // Rotation 1: logical (x, y) is physical (y, 239 - x); a logical row is a physical
    // column read upwards.
    auto rowLoop = [&] {
        const uchar* base = physical.constBits();
        for (int y = 0; y < 320; ++y) {
            auto* line = reinterpret_cast<quint16*>(logical.scanLine(y));
            const uchar* p = base + size_t(239) * 640 + size_t(y) * 2;
            for (int x = 0; x < 240; ++x, p -= 640)
                line[x] = *reinterpret_cast<const quint16*>(p);
        }
    };
    perPixel();
    const QImage expected = logical.copy();
    rowLoop();
    const bool rowSame = logical == expected;
    const QImage rotated = physical.transformed(QTransform().rotate(90));
    const QImage rotatedBack = physical.transformed(QTransform().rotate(-90));
    const bool rotateSame = rotated == expected || rotatedBack == expected;
    const int angle = rotated == expected ? 90 : -90;
    Pair r = measure(slowBatches, 10, perPixel, fbCopy);
    print({"per pixel through pda::logicalToPhysical", r.us, r.baselineUs});
    r = measure(slowBatches, 10, rowLoop, fbCopy);
    print({rowSame ? "row loop with pointer steps (same pixels)" : "row loop: PIXELS DIFFER", r.us,
           r.baselineUs});
    r = measure(slowBatches, 10, [&] { logical = physical.transformed(QTransform().rotate(angle)); },
                fbCopy);
    print({rotateSame ? "QImage::transformed, 90 degrees (same pixels)" : "rotation: PIXELS DIFFER",
           r.us, r.baselineUs});
    return 0;
}
