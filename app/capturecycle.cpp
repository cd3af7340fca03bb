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
    state.fpsStartMs = clock() | 1;
}

void Camera::showMessage(const char* text)
{
    state.messageShownMs = clock() | 1;
    TextLabel4->setText(tr(text));
    TextLabel4->show();
}

void Camera::timerEvent(QTimerEvent*)
{
    // Any timer of the window leads here; the ids only matter for stopping them.
    if (state.deviceLost)
        recreateDevice();
    if (!cardDevice->isOpen()) {
        reportMissingCard();
        return;
    }
    // The first tick brings the first frame before it turns to the screen saver, which
    // nobody can see happen a tick later; every later tick keeps it in step first.
    if (state.started)
        followPower();
    else
        startFirstTick();

    const int status = cardDevice->readStatus();
    if (!(status & CameraDevice::CardPresent)) {
        loseDevice();
        return;
    }
    takeCardShutter(status);
    followOrientation(status);
    state.lastStatus = status;

    // One of three: wait while a message shows, save a requested picture, or show a frame.
    if (state.messageShownMs != 0) {
        waitForMessage();
    } else if (state.shutterPending) {
        saveRequestedPicture();
    } else if (!(status & CameraDevice::NoFrame)) {
        // The frame read blocks until the card delivers: the next tick comes after it.
        refreshViewfinder();
        restartTicks(10);
        countFrame();
    }
}

void Camera::followPower()
{
    setScreenSaver(isPowerOk() ? 3 : 0);
}

void Camera::startFirstTick()
{
    state.started = true;
    // Runs when the first tick ends, on whichever path it leaves by.
    QMetaObject::invokeMethod(this, &Camera::followPower, Qt::QueuedConnection);
}

void Camera::restartTicks(int interval)
{
    killTimers();
    startTimer(interval);
}

void Camera::recreateDevice()
{
    state.deviceLost = false;
    cardDevice.reset();
    cardDevice = std::make_unique<CameraDevice>(*cardSlot);
    cardDevice->setMode(-1, values.slowCapture & SlowCaptureOn, -1, -1);
    state.shutterPending = false;
    state.geometryKey = -1;
    selectMirror(option.mirror);
    // Added beside the slow tick that brought us here; the next refresh leaves one.
    startTimer(10);
}

void Camera::reportMissingCard()
{
    if (state.cardErrorShown) {
        close();
        return;
    }
    state.cardErrorShown = true;
    killTimers(); // no tick while the box is open
    setScreenSaver(0);
    if (option.fullScreen)
        setFullScreen(false);
    QMessageBox::critical(this, tr("Error"),
                          tr("Insert the Camera Card \n(QD-CM09) before starting \n"
                             "the Camera application."));
    // The device stays closed: the next tick closes the window.
    restartTicks(500);
}

void Camera::loseDevice()
{
    // The device object stays until the next tick re-creates it.
    state.deviceLost = true;
    cardDevice->close();
    restartTicks(1000);
}

void Camera::takeCardShutter(int status)
{
    // While a picture is pending or a message shows, the button is left alone.
    if (!(status & CameraDevice::ShutterPressed) || state.shutterPending
        || state.messageShownMs != 0)
        return;
    // An open box of the application takes the press, even before the window system has
    // made it the active window. So does a save still in hand: its box may have closed in
    // the very event loop pass that brings this tick, before the save could send "B" for
    // the press it served.
    if (isShowingPreview() && !QApplication::activeModalWidget() && !state.saving) {
        soundBuzzer();
        ButtonShutter();
    } else {
        cardDevice->sendB();
    }
}

void Camera::followOrientation(int status)
{
    if (((status ^ state.lastStatus) & CameraDevice::Orientation) && values.saveDirection < 1)
        selectMirror((status & CameraDevice::Orientation) ? 1 : 0);
}

void Camera::waitForMessage()
{
    if (elapsedMs(state.messageShownMs, clock()) < uint32_t(values.saveWait))
        return;
    // A shutter request made while the message showed is dropped.
    state.messageShownMs = 0;
    state.shutterPending = false;
    cardDevice->sendB();
    TextLabel4->hide();
    updateRemain(nullptr);
}

void Camera::saveRequestedPicture()
{
    QString path;
    state.saving = true;
    const bool saved = savePicture(path);
    state.shutterPending = false;
    if (!(values.remainFlags & RemainNoLinkNotice))
        notifyLinkChanged();
    if (saved && values.saveWait != 0) {
        if (!(values.remainFlags & RemainShowsSerial))
            updateRemain(nullptr);
        showMessage(QT_TR_NOOP("Saved")); // "B" follows when the message ends
        state.saving = false;             // the message holds the button from here
        return;
    }
    if (!saved) {
        state.messageShownMs = 0;
        if (option.fullScreen)
            setFullScreen(false);
        setScreenSaver(0);
        // Qt does not fire a timer again while its own event is being handled: a fresh one
        // keeps the preview running behind the box, and goes with it while another runs.
        const int behindBox = startTimer(10);
        QMessageBox::critical(this, tr("Error"), tr("Save failed!\nPlease check storage status."));
        if (runningTimers() > 1)
            killTick(behindBox);
    }
    cardDevice->sendB();
    state.saving = false;
}

void Camera::countFrame()
{
    if (state.fpsStartMs == 0)
        return;
    if (elapsedMs(state.fpsStartMs, clock()) <= 9999) {
        ++state.fpsFrames;
        return;
    }
    // Refreshes per second with one decimal; the refresh that ends the measurement is not
    // counted.
    char text[32];
    std::snprintf(text, sizeof text, "%lu.%lu", static_cast<unsigned long>(state.fpsFrames / 10),
                  static_cast<unsigned long>(state.fpsFrames % 10));
    updateRemain(text);
    if (option.fullScreen)
        setFullScreen(false);
    state.fpsFrames = 0;
    state.fpsStartMs = 0;
}
