#include "app/camera.h"

#include "device/cameradevice.h"
#include "platform/resource.h"
#include "viewfinder/myframe.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTimerEvent>

const char* Camera::deviceNode = CameraDevice::defaultNode;

namespace {

// A titled window with a system menu and a close button, no minimise or maximise.
constexpr Qt::WindowFlags windowStyle = Qt::Window | Qt::CustomizeWindowHint
    | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

void setBlackBackground(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::black);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

Camera::Camera(QWidget* parent, const char* name, Qt::WindowFlags f)
    : CameraBase(parent, name, f | windowStyle)
{
    setWindowTitle(tr("Camera"));
    setWindowIcon(Resource::loadPixmap(QStringLiteral("Camera")));
    resize(240, 320);

    device = new CameraDevice(deviceNode);
    deviceLost = false;

    TextLabel4->hide();
    Frame1->setLineWidth(0);
    setBlackBackground(Frame1);
    // A group box has no line width; without a border it draws as the flat container
    // the controls sit in.
    ButtonGroup1->setStyleSheet(QStringLiteral("#ButtonGroup1 { border: none; margin: 0; }"));
    PushButton6->setText(QString());
    PushButton6->setIcon(Resource::loadPixmap(QStringLiteral("fullscreen")));

    viewfinder = Frame1;
    fullScreenFrame = new MyFrame();
    fullScreenFrame->hide();
    fullScreenFrame->resize(240, 320);
    setBlackBackground(fullScreenFrame);
    Frame1->installEventFilter(this);
    fullScreenFrame->installEventFilter(this);

    captureImage = nullptr;
    geometryKey = -1;
    fpsFrames = 0;
    fpsStartMs = 0;
    messageShownMs = 0;
    lastStatus = 0;
    saveTo = 0;
    quality = 0;
    resolution = 0;
    zoom = 0;
    dispMode = 0;
    saveDirection = -1;

    initSystemServices();
    loadSettings();

    previewImage = (slowCapture & 8) ? new QImage(320, 240, QImage::Format_RGB16)
                                     : new QImage(240, 320, QImage::Format_RGB16);
    previewImage->fill(255);
    device->setMode(-1, slowCapture & 2, -1, -1);

    if (saveDirection < 0)
        PushButton7->hide();

    screenSaverLevel = -1;
    fullScreen = false;
    shutterPending = false;
    zoomAny = false;
    cardErrorShown = false;

    selectDispMode(dispMode);
    selectMirror(0);
    selectQuality(quality);
    selectSaveTo(saveTo);
    selectSaveDirection(saveDirection);

    connect(PushButton0, &QPushButton::clicked, this, &Camera::ButtonShutter);
    connect(PushButton1, &QPushButton::clicked, this, &Camera::ButtonResolution);
    connect(PushButton2, &QPushButton::clicked, this, &Camera::ButtonQuality);
    connect(PushButton3, &QPushButton::clicked, this, &Camera::ButtonSaveTo);
    connect(PushButton4, &QPushButton::clicked, this, &Camera::ButtonDispMode);
    connect(PushButton5, &QPushButton::clicked, this, &Camera::ButtonMirror);
    connect(PushButton6, &QPushButton::clicked, this, &Camera::ButtonFullScreen);
    connect(PushButton7, &QPushButton::clicked, this, &Camera::ButtonSaveDir);
    connect(CheckBox1, &QCheckBox::clicked, this, &Camera::ButtonZoom);
    connect(fullScreenFrame, &MyFrame::keyevent, this, &Camera::FullScreenEvent);

    startTimer(10);
}

Camera::~Camera()
{
    killTimers();
    saveSettings();
    setScreenSaver(0);
    delete previewImage;
    previewImage = nullptr;
    delete captureImage;
    captureImage = nullptr;
    delete fullScreenFrame;
    fullScreenFrame = nullptr;
    viewfinder = Frame1;
    delete device;
    device = nullptr;
    notifyLinkChanged();
}

int Camera::startTimer(int interval)
{
    const int id = QObject::startTimer(interval);
    if (id)
        timerIds.append(id);
    return id;
}

void Camera::killTimers()
{
    for (int id : std::as_const(timerIds))
        killTimer(id);
    timerIds.clear();
}

void Camera::closeEvent(QCloseEvent* e)
{
    killTimers();
    QWidget::closeEvent(e);
}

void Camera::changeEvent(QEvent* e)
{
    CameraBase::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow() && fullScreen)
        setActiveWindow();
}

void Camera::setActiveWindow()
{
    if (fullScreen) {
        setFullScreen(true);
        return;
    }
    activateWindow();
}
