// The viewfinder: one refresh with a new preview frame, and switching the preview between
// the control window and the full-screen frame.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "options/optionrules.h"
#include "viewfinder/myframe.h"
#include "viewfinder/preview.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

void Camera::refreshViewfinder()
{
    int w = 0;
    int h = 0;
    const int entry = formatGeometry(&w, &h, true);
    const bool direct = (values.slowCapture & SlowCaptureDirect) && directPreviewPossible();
    if (!direct && previewImage->width() > previewImage->height()) {
        // Made for direct mode on a screen that cannot take it: the painter's frames are
        // upright. Assigned in place, so the painter's view of it stays valid.
        *previewImage = QImage(240, 320, QImage::Format_RGB16);
        previewImage->fill(255);
    }

    const int key = option.zoom + 4 * entry;
    if (key != state.geometryKey) {
        state.geometryKey = key;
        previewPainter->clear();
        viewfinderWidget->repaint();
        const int zoomValue = CameraDevice::zoomValue(option.zoom);
        // The frame buffer takes the preview in the screen's physical rows: it comes turned.
        if (direct)
            cardDevice->sendGeometry(*previewImage, false, h, w, zoomValue);
        else
            cardDevice->sendGeometry(*previewImage, true, w, h, zoomValue);
    }

    cardDevice->readFrame(*previewImage);
    if (values.slowCapture & SlowCaptureSendC)
        cardDevice->sendC();

    const QPoint at = centredIn(viewfinderWidget->size(), w, h);
    if (direct)
        blitPreview(viewfinderWidget, *previewImage, at.x(), at.y(), w, h);
    else if (isShowingPreview())
        previewPainter->paint(viewfinderWidget, *previewImage, QRect(at, QSize(w, h)));
}

void Camera::setFullScreen(bool on)
{
    option.fullScreen = on;
    if (on) {
        viewfinderWidget = fullScreenWidget.get();
        fullScreenWidget->setParent(nullptr);
        fullScreenWidget->move(0, 0);
        fullScreenWidget->showFullScreen();
        const QScreen* screen = fullScreenWidget->screen() ? fullScreenWidget->screen()
                                                           : QGuiApplication::primaryScreen();
        if (screen)
            fullScreenWidget->resize(screen->size());
        // Already shown but covered by another window: bring it back on top.
        fullScreenWidget->raise();
        fullScreenWidget->activateWindow();
    } else {
        viewfinderWidget = Frame1;
        fullScreenWidget->showNormal();
        fullScreenWidget->hide();
        setActiveWindow();
    }

    // The message label moves into whichever widget shows the preview.
    QLabel* label = TextLabel4;
    const bool visible = !label->isHidden();
    const QPoint at = centredIn(viewfinderWidget->size(), label->width(), label->height());
    label->setParent(viewfinderWidget);
    label->move(at);
    if (visible)
        label->show();
}
