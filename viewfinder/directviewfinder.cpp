#include "viewfinder/directviewfinder.h"

#include "platform/directpainter.h"
#include "viewfinder/blit.h"

DirectViewFinder::DirectViewFinder()
    : ViewFinder(QSize(320, 240)) // the screen's physical rows
{
}

CardRequest DirectViewFinder::cardRequest(int width, int height) const
{
    return {height, width, false};
}

void DirectViewFinder::setHost(QWidget* widget, const QSize& size)
{
    host = widget;
    base = size;
}

void DirectViewFinder::render(int width, int height)
{
    if (!host)
        return;
    const QRect area = previewArea(host->size(), base, width, height);
    QDirectPainter painter(host);
    if (painter.numRects() != 1)
        return; // partly covered: nothing is drawn for this frame
    const QImage& image = frame();
    BlitInput in;
    in.rotation = qt_screen->transformOrientation();
    in.x = area.x() + painter.xOffset();
    in.y = area.y() + painter.yOffset();
    in.width = width;
    in.height = height;
    in.screenWidth = qt_screen->width();
    in.screenHeight = qt_screen->height();
    in.visible = painter.rect(0);
    in.lineStep = painter.lineStep();
    in.imageBytesPerLine = int(image.bytesPerLine());
    in.imageHeight = image.height();
    runBlit(planBlit(in), painter.frameBuffer(), image.constBits());
}

void DirectViewFinder::clear()
{
    // The next blit lands on the host's freshly painted background.
}
