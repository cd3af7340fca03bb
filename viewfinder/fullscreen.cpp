// Switching the preview between the control window and the full-screen frame.
#include "app/camera.h"

#include "viewfinder/myframe.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

void Camera::setFullScreen(bool on)
{
    fullScreen = on;
    if (on) {
        viewfinder = fullScreenFrame;
        fullScreenFrame->setParent(nullptr);
        fullScreenFrame->move(0, 0);
        fullScreenFrame->showFullScreen();
        const QScreen* screen = fullScreenFrame->screen() ? fullScreenFrame->screen()
                                                          : QGuiApplication::primaryScreen();
        if (screen)
            fullScreenFrame->resize(screen->size());
    } else {
        viewfinder = Frame1;
        fullScreenFrame->showNormal();
        fullScreenFrame->hide();
        setActiveWindow();
    }

    QLabel* label = TextLabel4;
    const bool visible = !label->isHidden();
    const int x = (viewfinder->width() - label->width()) >> 1;
    const int y = (viewfinder->height() - label->height()) >> 1;
    label->setParent(viewfinder);
    label->move(x, y);
    if (visible)
        label->show();
}
