#pragma once
// The main window: the one owner of the camera's state. Its operations live in the
// folder of their subsystem (app/ the lifecycle, capture cycle and commands; settings/,
// options/, viewfinder/, storage/, system/ the rest).
#include "form/camerabase.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <cstddef>
#include <cstdint>

class CameraDevice;
class MyFrame;
class QCloseEvent;
class QKeyEvent;
class QTimerEvent;

class Camera : public CameraBase {
    Q_OBJECT
public:
    explicit Camera(QWidget* parent = nullptr, const char* name = nullptr,
                    Qt::WindowFlags f = {});
    ~Camera() override;

public slots:
    void ButtonShutter();
    void ButtonResolution();
    void ButtonQuality();
    void ButtonSaveTo();
    void ButtonDispMode();
    void ButtonMirror();
    void ButtonFullScreen();
    void ButtonSaveDir();
    void ButtonZoom();
    void FullScreenEvent(int key);
    void cardMessage(const QByteArray& message, const QByteArray& data);

public:
    // Capture cycle (app/capturecycle.cpp).
    void startFrameRate();
    void showMessage(const char* text);
    static uint32_t nowMs();
    // Milliseconds from a stored stamp to `now`, unsigned: wrap-around does no harm, and a
    // clock set back reads as a very long time.
    static uint32_t elapsedMs(uint32_t stamp, uint32_t now);

    // Settings (settings/settings.cpp).
    void loadSettings();
    void saveSettings();

    // Option controls (options/optioncontrols.cpp): each settles the wanted value by its
    // own rule, applies and shows it, and returns the value it settled on.
    int selectSlowCapture(int on);
    int selectDispMode(int index);
    int selectResolution(int start);
    int selectZoom(int level);
    int selectMirror(int state);
    int selectQuality(int q);
    int selectSaveTo(int s);
    int selectSaveDirection(int d);
    int formatGeometry(int* width, int* height, bool preview) const;

    // Viewfinder (viewfinder/refresh.cpp, viewfinder/fullscreen.cpp).
    void refreshViewfinder();
    void setFullScreen(bool on);

    // Storage (storage/storageprobe.cpp, storage/picturesaving.cpp). Buffers carry their
    // size: a base folder or path that does not fit is refused, never cut.
    char* storageBasePath(int index, char* buffer, size_t size) const;
    bool probeStorage(int index, int* blockSize, int* freeBlocks) const;
    void updateRemain(const char* text);
    bool savePicture(QString& path);
    char* makePictureName(int index, char* buffer, size_t size, int* number);

    // System services (system/systemservices.cpp).
    void initSystemServices();
    bool isPowerOk() const;
    bool setScreenSaver(unsigned level);
    void notifyLinkChanged();
    static void soundBuzzer();
    bool isCardLocked() const;

    // The nodes the window talks to; tests point them at an emulator's files.
    static const char* deviceNode;
    static const char* buzzerNode;
    static const char* slotStatusNode;
    static const char* cardFolder; // base folder of the memory card

    // Qt 6 has no killTimers(): the window keeps the ids it started.
    int startTimer(int interval);
    void killTimers();
    int runningTimers() const { return int(timerIds.size()); }

protected:
    void timerEvent(QTimerEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    // Painter mode: the viewfinder widgets show the last preview frame when they paint.
    bool eventFilter(QObject* watched, QEvent* e) override;
    // Restores the full-screen viewfinder instead of activating the window while it is on.
    void setActiveWindow();

public:
    // State. Public so that the subsystem files and the tests can read it; only the
    // window's operations write it.
    bool fullScreen = false;
    bool shutterPending = false;
    bool zoomAny = false;
    uint32_t fpsStartMs = 0;
    uint32_t fpsFrames = 0;
    uint32_t messageShownMs = 0;
    int32_t saveWait = 0;
    int32_t slowCapture = 0;
    int32_t dispModeMax = 0;
    int32_t dispMode = 0;
    int32_t resolution = 0;
    int32_t resolutionMax = 0;
    int32_t zoom = 0;
    int32_t mirror = 0;
    int32_t quality = 0;
    int32_t qualityNormal = 0;
    int32_t qualityFine = 0;
    int32_t saveTo = 0;
    int32_t saveDirection = 0;
    bool noCheckSdWp = false;
    int32_t serial = 0;
    int32_t remainFlags = 0;
    int32_t geometryKey = -1;
    int32_t lastStatus = 0;
    bool cardErrorShown = false;
    bool deviceLost = false;
    MyFrame* fullScreenFrame = nullptr;
    QWidget* viewfinder = nullptr;
    QImage* previewImage = nullptr;
    QImage* captureImage = nullptr;
    CameraDevice* device = nullptr;
    QPixmap mirrorIcons[2];
    QPixmap directionIcons[2];
    char namePrefix[16] = {};
    char nameSuffix[8] = {};
    char saveFormat[8] = {};
    int32_t rootDevice = -1;
    int32_t screenSaverLevel = -1;

private:
    // The keys that act alike in the control window and full screen; false for others.
    bool sharedKeyCommand(int key);

    QList<int> timerIds;
    QRect paintedPreview; // where painter mode last drew the frame; null: nothing drawn
    QImage pictureRgb;    // the picture as the JPEG writer takes it, kept between saves
};
