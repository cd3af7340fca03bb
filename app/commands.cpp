// The user's commands: button slots, the control window's keys and the full-screen keys.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "options/captureformats.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>

void Camera::ButtonResolution()
{
    selectResolution(values.resolution + 1);
}

void Camera::ButtonQuality()
{
    selectQuality(values.quality + 1);
}

void Camera::ButtonSaveTo()
{
    selectSaveTo(values.saveTo + 1);
}

void Camera::ButtonDispMode()
{
    selectDispMode(values.dispMode + 1);
}

void Camera::ButtonMirror()
{
    selectMirror(option.mirror + 1);
}

void Camera::ButtonFullScreen()
{
    setFullScreen(!option.fullScreen);
}

void Camera::ButtonZoom()
{
    selectZoom(CheckBox1->isChecked() ? 1 : 0);
}

void Camera::ButtonSaveDir()
{
    selectSaveDirection(values.saveDirection + 1);
    if (values.saveDirection > 0)
        selectMirror(0);
    else
        state.lastStatus &= ~CameraDevice::Orientation; // the next tick lets a set orientation bit turn the mirror on again
}

bool Camera::sharedKeyCommand(int key)
{
    switch (key) {
    case Qt::Key_F:
        selectSlowCapture(0);
        return true;
    case Qt::Key_S:
        selectSlowCapture(1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F33:
        ButtonShutter();
        return true;
    case Qt::Key_Delete:
        startFrameRate();
        return true;
    default:
        return false;
    }
}

void Camera::keyPressEvent(QKeyEvent* e)
{
    if (sharedKeyCommand(e->key())) {
        e->accept();
        return;
    }
    switch (e->key()) {
    case Qt::Key_R:
        // Every display mode and format become selectable; nothing is re-applied now.
        values.dispModeMax = 3;
        values.resolutionMax = captureFormatCount;
        break;
    case Qt::Key_V:
        if (values.saveDirection >= 0) {
            e->ignore();
            return;
        }
        values.saveDirection = 0;
        selectSaveDirection(0);
        PushButton7->show();
        break;
    case Qt::Key_Z:
        option.zoomAny = true;
        selectZoom(option.zoom);
        break;
    case Qt::Key_Escape:
        close();
        break;
    case Qt::Key_F11:
        break;
    default:
        e->ignore(); // passed on by the toolkit
        return;
    }
    e->accept();
}

void Camera::FullScreenEvent(int key)
{
    if (sharedKeyCommand(key))
        return;
    switch (key) {
    case Qt::Key_Space:   // also a tap on the frame
    case Qt::Key_Escape:
    case Qt::Key_F30:
        setFullScreen(false);
        break;
    case Qt::Key_Left:
        selectZoom(0);
        break;
    case Qt::Key_Right:
        selectZoom(1);
        break;
    case Qt::Key_Up:
        selectMirror(0);
        break;
    case Qt::Key_Down:
        selectMirror(1);
        break;
    default:
        break;
    }
}
