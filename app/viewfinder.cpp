// The viewfinder: one refresh with a new preview frame, and switching the preview between
// the control window and the full-screen frame.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "options/optionrules.h"
#include "viewfinder/myframe.h"
#include "viewfinder/viewfinder.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace {

// What the two widgets that show the preview are laid out for: the control window's frame
// and the handheld's whole screen.
constexpr QSize controlFrameSize(240, 160);
constexpr QSize screenSize(240, 320);

// The top-left corner of a width x height area centred in `outer`.
QPoint centredIn(const QSize& outer, int width, int height)
{
    return QPoint((outer.width() - width) >> 1, (outer.height() - height) >> 1);
}

} // namespace

const QImage& Camera::previewFrame() const
{
    return viewFinder->frame();
}

QSize Camera::viewfinderBase() const
{
    return viewfinderWidget == Frame1 ? controlFrameSize : screenSize;
}

void Camera::chooseViewFinder()
{
    const bool direct = directModeApplies(values.slowCapture & SlowCaptureDirect,
                                          viewfinderWidget->size(), viewfinderBase());
    if (direct == viewFinder->isDirect())
        return;
    viewFinder = makeViewFinder(direct);
    viewFinder->setHost(viewfinderWidget, viewfinderBase());
    state.geometryKey = -1; // the new frame's shape needs the card's geometry again
}

void Camera::refreshViewfinder()
{
    int w = 0;
    int h = 0;
    const int entry = formatGeometry(&w, &h, true);
    chooseViewFinder();

    const int key = option.zoom + 4 * entry;
    if (key != state.geometryKey) {
        state.geometryKey = key;
        viewFinder->clear();
        viewfinderWidget->repaint();
        const CardRequest request = viewFinder->cardRequest(w, h);
        cardDevice->sendGeometry(viewFinder->frame(), request.upright, request.width,
                                 request.height, CameraDevice::zoomValue(option.zoom));
    }

    cardDevice->readFrame(viewFinder->frame());
    if (values.slowCapture & SlowCaptureSendC)
        cardDevice->sendC();

    if (viewFinder->isDirect() || isShowingPreview())
        viewFinder->render(w, h);
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
        // Hidden first: a full-screen window made normal while still shown becomes, for a
        // moment, an ordinary window beside the control window, and a tiling compositor
        // splits the screen between them.
        fullScreenWidget->hide();
        fullScreenWidget->setWindowState(fullScreenWidget->windowState() & ~Qt::WindowFullScreen);
        setActiveWindow();
    }
    viewFinder->setHost(viewfinderWidget, viewfinderBase());

    // The message label moves into whichever widget shows the preview.
    QLabel* label = TextLabel4;
    const bool visible = !label->isHidden();
    const QPoint at = centredIn(viewfinderWidget->size(), label->width(), label->height());
    label->setParent(viewfinderWidget);
    label->move(at);
    if (visible)
        label->show();
}
