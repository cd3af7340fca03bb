// The capture cycle: the window's timer tick and the small operations around it.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "options/optionrules.h"
#include "storage/counter.h"
#include "viewfinder/myframe.h"

#include <QApplication>
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
    state.shutterPending = true;
}

void Camera::startFrameRate()
{
    updateRemain("Fr...");
    state.fpsFrames = 0;
    state.fpsStartMs = nowMs() | 1;
}

void Camera::showMessage(const char* text)
{
    state.messageShownMs = nowMs() | 1;
    TextLabel4->setText(tr(text));
    TextLabel4->show();
}

void Camera::timerEvent(QTimerEvent*)
{
    // Any timer of the window leads here; the ids only matter for stopping them.
    if (state.deviceLost) {
        state.deviceLost = false;
        cardDevice.reset();
        cardDevice = std::make_unique<CameraDevice>(paths.deviceNode);
        cardDevice->setMode(-1, values.slowCapture & SlowCaptureOn, -1, -1);
        state.shutterPending = false;
        state.geometryKey = -1;
        selectMirror(option.mirror);
        startTimer(10);
    }

    if (!cardDevice->isOpen()) {
        if (state.cardErrorShown) {
            close();
            return;
        }
        state.cardErrorShown = true;
        killTimers();
        setScreenSaver(0);
        if (option.fullScreen)
            setFullScreen(false);
        QMessageBox::critical(this, tr("Error"),
                              tr("Insert the Camera Card \n(QD-CM09) before starting \n"
                                 "the Camera application."));
        startTimer(500);
        return;
    }

    setScreenSaver(isPowerOk() ? 3 : 0);

    const int status = cardDevice->readStatus();

    if (!(status & CameraDevice::CardPresent)) {
        state.deviceLost = true;
        cardDevice->close();
        killTimers();
        startTimer(1000);
        return;
    }

    if ((status & CameraDevice::ShutterPressed) && !state.shutterPending
        && state.messageShownMs == 0) {
        // An open box of the application takes the press, even before the window system
        // has made it the active window.
        if (isShowingPreview() && !QApplication::activeModalWidget()) {
            soundBuzzer();
            ButtonShutter();
        } else {
            cardDevice->sendB();
        }
    }

    if (((status ^ state.lastStatus) & CameraDevice::Orientation) && values.saveDirection < 1)
        selectMirror((status & CameraDevice::Orientation) ? 1 : 0);

    state.lastStatus = status;

    if (state.messageShownMs != 0) {
        if (elapsedMs(state.messageShownMs, nowMs()) < uint32_t(values.saveWait))
            return;
        state.messageShownMs = 0;
        state.shutterPending = false;
        cardDevice->sendB();
        TextLabel4->hide();
        updateRemain(nullptr);
        return;
    }

    if (state.shutterPending) {
        QString path;
        const bool saved = savePicture(path);
        state.shutterPending = false;
        if (!(values.remainFlags & RemainNoLinkNotice))
            notifyLinkChanged();
        if (!saved) {
            state.messageShownMs = 0;
            if (option.fullScreen)
                setFullScreen(false);
            setScreenSaver(0);
            // Qt does not fire a timer again while its own event is being handled: a fresh
            // one keeps the preview running behind the box.
            startTimer(10);
            QMessageBox::critical(this, tr("Error"),
                                  tr("Save failed!\nPlease check storage status."));
            cardDevice->sendB();
        } else if (values.saveWait != 0) {
            if (!(values.remainFlags & RemainShowsSerial))
                updateRemain(nullptr);
            showMessage(QT_TR_NOOP("Saved"));
        } else {
            cardDevice->sendB();
        }
        return;
    }

    if (status & CameraDevice::NoFrame)
        return;

    killTimers();
    refreshViewfinder();
    startTimer(10);

    if (state.fpsStartMs != 0) {
        const uint32_t elapsed = elapsedMs(state.fpsStartMs, nowMs());
        if (elapsed > 9999) {
            char text[32];
            std::snprintf(text, sizeof text, "%lu.%lu",
                          static_cast<unsigned long>(state.fpsFrames / 10),
                          static_cast<unsigned long>(state.fpsFrames % 10));
            updateRemain(text);
            if (option.fullScreen)
                setFullScreen(false);
            state.fpsFrames = 0;
            state.fpsStartMs = 0;
        } else {
            ++state.fpsFrames;
        }
    }
}
