// One viewfinder refresh: fetch a preview frame and put it on the screen, centred in the
// widget that shows the preview.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "platform/directpainter.h"
#include "viewfinder/blit.h"
#include "viewfinder/myframe.h"

#include <QEvent>
#include <QImage>
#include <QPainter>

namespace {

// Direct mode where it was chosen and the screen takes the frames' rows as they come.
bool directMode(int slowCapture)
{
    return (slowCapture & 8) && qt_screen->directAccess();
}

int bytesPerLine(const QImage& image)
{
    return image.height() ? int(image.sizeInBytes() / image.height()) : 0;
}

void directBlit(QWidget* widget, const QImage& image, int x0, int y0, int w, int h)
{
    QDirectPainter painter(widget);
    if (painter.numRects() != 1)
        return; // partly covered: nothing is drawn for this frame
    BlitInput in;
    in.rotation = qt_screen->transformOrientation();
    in.x = x0 + painter.xOffset();
    in.y = y0 + painter.yOffset();
    in.width = w;
    in.height = h;
    in.screenWidth = qt_screen->width();
    in.screenHeight = qt_screen->height();
    in.visible = painter.rect(0);
    in.lineStep = painter.lineStep();
    in.imageBytesPerLine = bytesPerLine(image);
    in.imageHeight = image.height();
    runBlit(planBlit(in), painter.frameBuffer(), image.constBits());
}

} // namespace

void Camera::refreshViewfinder()
{
    int w = 0;
    int h = 0;
    const int entry = formatGeometry(&w, &h, true);
    const bool direct = directMode(slowCapture);
    if (!direct && previewImage->width() > previewImage->height()) {
        *previewImage = QImage(240, 320, QImage::Format_RGB16);  // the painter's upright frames
        previewImage->fill(255);
    }

    const int key = zoom + 4 * entry;
    if (key != geometryKey) {
        geometryKey = key;
        paintedPreview = QRect();
        viewfinder->repaint();
        const int zoomValue = 1 << (zoom + 8);
        if (direct)
            device->sendGeometry(*previewImage, false, h, w, zoomValue);
        else
            device->sendGeometry(*previewImage, true, w, h, zoomValue);
    }

    device->readFrame(*previewImage);
    if (slowCapture & 4)
        device->sendC();

    const int x0 = (viewfinder->width() - w) >> 1;
    const int y0 = (viewfinder->height() - h) >> 1;

    if (direct) {
        directBlit(viewfinder, *previewImage, x0, y0, w, h);
        return;
    }
    if (isActiveWindow() || fullScreenFrame->isActiveWindow()) {
        // Qt paints widgets only from their paint event: the event filter below draws.
        paintedPreview = QRect(x0, y0, w, h);
        viewfinder->repaint();
    }
}

bool Camera::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() != QEvent::Paint || watched != viewfinder || paintedPreview.isNull()
        || !previewImage || directMode(slowCapture))
        return CameraBase::eventFilter(watched, e);
    QPainter painter(viewfinder);
    painter.fillRect(viewfinder->rect(), viewfinder->palette().window());
    painter.drawImage(paintedPreview.topLeft(), *previewImage,
                      QRect(QPoint(0, 0), paintedPreview.size()));
    return true;
}
