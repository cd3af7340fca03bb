// The window's lifecycle: construction in its fixed order, shutdown, timers, activation.
#include "app/camera.h"

#include "device/cameradevice.h"
#include "form/formscale.h"
#include "options/optionrules.h"
#include "platform/qpeapplication.h"
#include "platform/resource.h"
#include "storage/picturewriter.h"
#include "viewfinder/myframe.h"
#include "viewfinder/viewfinder.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimerEvent>

#include <cstdlib>

namespace {

// The size the form is laid out for: the handheld's screen.
constexpr QSize formSize(240, 320);

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

Camera::Camera(QWidget* parent, const char* name, Qt::WindowFlags f, const CameraPaths& paths,
               CameraRuntime runtime)
    : CameraBase(parent, name, f | windowStyle)
    , paths(paths)
    , cardSlot(runtime.card ? std::move(runtime.card)
                                : std::make_shared<NodeSlot>(paths.deviceNode))
    , clock(runtime.clock ? std::move(runtime.clock) : &Camera::nowMs)
    , pictureWriter(std::make_unique<PictureWriter>(std::move(runtime.placing)))
{
    setWindowTitle(tr("Camera"));
    setWindowIcon(Resource::loadPixmap(QStringLiteral("Camera")));
    resize(formSize);

    cardDevice = std::make_unique<CameraDevice>(*cardSlot);
    state.deviceLost = false;

    TextLabel4->hide();
    Frame1->setLineWidth(0);
    setBlackBackground(Frame1);
    // A group box has no line width; without a border it draws as the flat container
    // the controls sit in.
    ButtonGroup1->setStyleSheet(QStringLiteral("#ButtonGroup1 { border: none; margin: 0; }"));
    PushButton6->setText(QString());
    PushButton6->setIcon(Resource::loadPixmap(QStringLiteral("fullscreen")));

    viewfinderWidget = Frame1;
    fullScreenWidget = std::make_unique<MyFrame>();
    fullScreenWidget->hide();
    fullScreenWidget->resize(formSize);
    setBlackBackground(fullScreenWidget.get());

    state = CycleState();
    values.saveTo = 0;
    values.quality = 0;
    values.resolution = 0;
    option.zoom = 0;
    values.dispMode = 0;
    values.saveDirection = -1;

    initSystemServices();
    loadSettings();
    recoverStalePictures();

    // Every widget of the form in its place: from here on the form follows the window's
    // size. The viewfinder places itself.
    formScaler = std::make_unique<FormScaler>(this, formSize);
    viewFinder = makeViewFinder(values.slowCapture & SlowCaptureDirect);
    viewFinder->setHost(Frame1, viewfinderBase());
    cardDevice->setMode(-1, values.slowCapture & SlowCaptureOn, -1, -1);

    if (values.saveDirection < 0)
        PushButton7->hide();

    option.fullScreen = false;
    option.zoomAny = false;

    selectDispMode(values.dispMode);
    selectMirror(0);
    selectQuality(values.quality);
    selectSaveTo(values.saveTo);
    selectSaveDirection(values.saveDirection);

    connect(PushButton0, &QPushButton::clicked, this, &Camera::ButtonShutter);
    connect(PushButton1, &QPushButton::clicked, this, &Camera::ButtonResolution);
    connect(PushButton2, &QPushButton::clicked, this, &Camera::ButtonQuality);
    connect(PushButton3, &QPushButton::clicked, this, &Camera::ButtonSaveTo);
    connect(PushButton4, &QPushButton::clicked, this, &Camera::ButtonDispMode);
    connect(PushButton5, &QPushButton::clicked, this, &Camera::ButtonMirror);
    connect(PushButton6, &QPushButton::clicked, this, &Camera::ButtonFullScreen);
    connect(PushButton7, &QPushButton::clicked, this, &Camera::ButtonSaveDir);
    connect(CheckBox1, &QCheckBox::clicked, this, &Camera::ButtonZoom);
    connect(fullScreenWidget.get(), &MyFrame::keyevent, this, &Camera::FullScreenEvent);

    formScaler->fit(size());

    startTimer(10);
}

Camera::~Camera()
{
    killTimers();
    saveSettings();
    setScreenSaver(0);
    viewFinder.reset();
    captureImage.reset();
    viewfinderWidget = Frame1;
    fullScreenWidget.reset();
    cardDevice.reset(); // M=0 and close
    notifyLinkChanged();
}

int Camera::startTimer(int interval)
{
    const int id = QObject::startTimer(interval);
    if (id)
        timerIds.append(id);
    lastInterval = interval;
    return id;
}

void Camera::killTick(int id)
{
    if (timerIds.removeOne(id))
        killTimer(id);
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
    if (e->type() == QEvent::ActivationChange && isActiveWindow() && option.fullScreen)
        setActiveWindow();
}

void Camera::resizeEvent(QResizeEvent* e)
{
    CameraBase::resizeEvent(e);
    // The widget's size, not the event's: Qt delivers a compositor's configure that came
    // in two steps (the title bar's size first, then the window's) as one resize carrying
    // the first step's size, and sends none for the second.
    if (formScaler)
        formScaler->fit(size());
}

void Camera::setActiveWindow()
{
    if (option.fullScreen) {
        setFullScreen(true);
        return;
    }
    activateWindow();
}

bool Camera::isShowingPreview() const
{
    if (isActiveWindow() || fullScreenWidget->isActiveWindow())
        return true;
    // Where no window can be active (a seat without a keyboard), nothing else can have the
    // user's attention either: the viewfinder on the screen counts.
    return !QPEApplication::windowsCanBeActive() && viewfinderWidget->isVisible()
        && !viewfinderWidget->window()->isMinimized();
}
