// The capture cycle: the window's timer tick and the small operations around it.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "viewfinder/myframe.h"

#include <QLabel>
#include <QLCDNumber>
#include <QMessageBox>
#include <QTimerEvent>

#include <cstdio>
#include <sys/time.h>

uint32_t Camera::nowMs()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    // 32-bit wrap-around is intended: every duration is an unsigned difference.
    return uint32_t(tv.tv_sec) * 1000u + uint32_t(tv.tv_usec / 1000);
}

uint32_t Camera::elapsedMs(uint32_t stamp, uint32_t now)
{
    // Stamps are ORed with 1, so one taken at an even millisecond lies 1 ms ahead of the
    // clock; the clock is ORed alike, or such a stamp would read as a clock set back and
    // end its wait at once.
    return (now | 1) - stamp;
}

void Camera::ButtonShutter()
{
    shutterPending = true;
}

void Camera::startFrameRate()
{
    updateRemain("Fr...");
    fpsFrames = 0;
    fpsStartMs = nowMs() | 1;
}

void Camera::showMessage(const char* text)
{
    messageShownMs = nowMs() | 1;
    TextLabel4->setText(tr(text));
    TextLabel4->show();
}

void Camera::timerEvent(QTimerEvent*)
{
    // Any timer of the window leads here; the ids only matter for stopping them.
    if (deviceLost) {
        deviceLost = false;
        delete device;
        device = new CameraDevice(deviceNode);
        device->setMode(-1, slowCapture & 2, -1, -1);
        shutterPending = false;
        geometryKey = -1;
        selectMirror(mirror);
        startTimer(10);
    }

    if (!device->isOpen()) {
        if (cardErrorShown) {
            close();
            return;
        }
        cardErrorShown = true;
        killTimers();
        setScreenSaver(0);
        if (fullScreen)
            setFullScreen(false);
        QMessageBox::critical(this, tr("Error"),
                              tr("Insert the Camera Card \n(QD-CM09) before starting \n"
                                 "the Camera application."));
        startTimer(500);
        return;
    }

    setScreenSaver(isPowerOk() ? 3 : 0);

    const int status = device->readStatus();

    if (!(status & CameraDevice::CardPresent)) {
        deviceLost = true;
        device->close();
        killTimers();
        startTimer(1000);
        return;
    }

    if ((status & CameraDevice::ShutterPressed) && !shutterPending && messageShownMs == 0) {
        if (isActiveWindow() || fullScreenFrame->isActiveWindow()) {
            soundBuzzer();
            ButtonShutter();
        } else {
            device->sendB();
        }
    }

    if (((status ^ lastStatus) & CameraDevice::Orientation) && saveDirection < 1)
        selectMirror((status & CameraDevice::Orientation) ? 1 : 0);

    lastStatus = status;

    if (messageShownMs != 0) {
        if (elapsedMs(messageShownMs, nowMs()) < uint32_t(saveWait))
            return;
        messageShownMs = 0;
        shutterPending = false;
        device->sendB();
        TextLabel4->hide();
        updateRemain(nullptr);
        return;
    }

    if (shutterPending) {
        QString path;
        const bool saved = savePicture(path);
        shutterPending = false;
        if (!(remainFlags & 4))
            notifyLinkChanged();
        if (!saved) {
            messageShownMs = 0;
            if (fullScreen)
                setFullScreen(false);
            setScreenSaver(0);
            // Qt does not fire a timer again while its own event is being handled: a fresh
            // one keeps the preview running behind the box.
            startTimer(10);
            QMessageBox::critical(this, tr("Error"),
                                  tr("Save failed!\nPlease check storage status."));
            device->sendB();
        } else if (saveWait != 0) {
            if (!(remainFlags & 1))
                updateRemain(nullptr);
            showMessage(QT_TR_NOOP("Saved"));
        } else {
            device->sendB();
        }
        return;
    }

    if (status & CameraDevice::NoFrame)
        return;

    killTimers();
    refreshViewfinder();
    startTimer(10);

    if (fpsStartMs != 0) {
        const uint32_t elapsed = elapsedMs(fpsStartMs, nowMs());
        if (elapsed > 9999) {
            char text[32];
            std::snprintf(text, sizeof text, "%lu.%lu", static_cast<unsigned long>(fpsFrames / 10),
                          static_cast<unsigned long>(fpsFrames % 10));
            updateRemain(text);
            if (fullScreen)
                setFullScreen(false);
            fpsFrames = 0;
            fpsStartMs = 0;
        } else {
            ++fpsFrames;
        }
    }
}
