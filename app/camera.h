#pragma once
// The main window: the one owner of the camera's state. It coordinates; the rules live in
// the subsystem folders. Its operations are grouped by subsystem: app/camera.cpp the
// lifecycle, capturecycle.cpp, commands.cpp, and settings.cpp, options.cpp, viewfinder.cpp,
// storage.cpp, system.cpp the glue to the rules of those folders.
#include "form/camerabase.h"
#include "platform/devicenodes.h"
#include "settings/settings.h"
#include "storage/picturewriter.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class CameraDevice;
class CardSlot;
class FormScaler;
class MyFrame;
class QCloseEvent;
class QKeyEvent;
class QResizeEvent;
class QTimerEvent;
class SystemServices;
class ViewFinder;

// The nodes and folders the window talks to; tests point them at their own.
struct CameraPaths {
    const char* deviceNode = pdaCameraNode;
    const char* buzzerNode = pdaBuzzerNode;
    const char* slotStatusNode = pdaSlotStatusNode;
    const char* cardFolder = "/mnt/card/"; // base folder of the memory card
    const char* home = nullptr;            // the internal storage's base, HOME; null: "/home/"
    // Where the internal storage learns whether HOME waits for a file system of its own.
    const char* fileSystemTable = "/etc/fstab";
    const char* mountTable = "/proc/self/mounts";
    // A storage on the root file system is refused (the internal storage only where HOME
    // waits for a file system of its own); tests whose card folder lies there turn that off.
    bool refuseRootFileSystem = true;
};

// What the window takes from the system it runs on besides paths; tests script these.
struct CameraRuntime {
    std::shared_ptr<CardSlot> card;   // null: the driver node at CameraPaths::deviceNode
    std::function<uint32_t()> clock;  // null: Camera::nowMs
    PictureWriter::Placing placing;   // what the file system offers for naming pictures
};

// What the capture cycle keeps between ticks.
struct CycleState {
    bool shutterPending = false;
    bool saving = false; // a save's press has not had its "B" yet
    uint32_t fpsStartMs = 0; // 0: no frame-rate measurement running
    uint32_t fpsFrames = 0;
    uint32_t messageShownMs = 0; // 0: no message on screen
    int32_t geometryKey = -1;    // zoom + 4 * preview entry last sent; -1: none
    int32_t lastStatus = 0;
    bool cardErrorShown = false;
    bool deviceLost = false;
    bool started = false; // the first tick has run
};

// Options that are not settings.
struct OptionState {
    int32_t zoom = 0;
    int32_t mirror = 0;
    bool zoomAny = false;  // the Z key: zoom with every format
    bool fullScreen = false;
};

class Camera : public CameraBase {
    Q_OBJECT
public:
    explicit Camera(QWidget* parent = nullptr, const char* name = nullptr,
                    Qt::WindowFlags f = {}, const CameraPaths& paths = CameraPaths(),
                    CameraRuntime runtime = CameraRuntime());
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
    // Capture cycle.
    void startFrameRate();
    void showMessage(const char* text);
    static uint32_t nowMs();
    // Milliseconds from a stored stamp to `now`, unsigned: wrap-around does no harm, and a
    // clock set back reads as a very long time.
    static uint32_t elapsedMs(uint32_t stamp, uint32_t now);

    // Settings.
    void loadSettings();
    void saveSettings();

    // Option controls: each settles the wanted value by its own rule, applies and shows
    // it, and returns the value it settled on.
    int selectSlowCapture(int on);
    int selectDispMode(int index);
    int selectResolution(int start);
    int selectZoom(int level);
    int selectMirror(int state);
    int selectQuality(int q);
    int selectSaveTo(int s);
    int selectSaveDirection(int d);
    int formatGeometry(int* width, int* height, bool preview) const;

    // Viewfinder.
    void refreshViewfinder();
    void setFullScreen(bool on);

    // Storage. Buffers carry their size: a base folder or path that does not fit is
    // refused, never cut.
    char* storageBasePath(int index, char* buffer, size_t size) const;
    bool probeStorage(int index, int* blockSize, int* freeBlocks) const;
    void updateRemain(const char* text);
    bool savePicture(QString& path);
    char* makePictureName(int index, char* buffer, size_t size, int* number);
    // What a killed camera left: complete pictures numbered on, cut-off ones removed.
    void recoverStalePictures();

    // System services.
    void initSystemServices();
    bool isPowerOk() const;
    bool setScreenSaver(unsigned level);
    void notifyLinkChanged();
    void soundBuzzer();
    bool isCardLocked() const;

    // Qt 6 has no killTimers(): the window keeps the ids it started.
    int startTimer(int interval);
    void killTimers();
    // Stops the one timer `id` of those started here.
    void killTick(int id);
    int runningTimers() const { return int(timerIds.size()); }
    // The interval of the timer started last, running or not.
    int lastTickInterval() const { return lastInterval; }

    // Read-only views of the state, for the tests and tools that observe the window.
    const CameraSettings& settings() const { return values; }
    const OptionState& options() const { return option; }
    const CycleState& cycle() const { return state; }
    int screenSaverLevel() const;
    const CameraDevice& device() const { return *cardDevice; }
    const QImage& previewFrame() const;
    const QImage& captureFrame() const { return *captureImage; }
    QWidget* viewfinder() const { return viewfinderWidget; }
    MyFrame* fullScreenFrame() const { return fullScreenWidget.get(); }

protected:
    void timerEvent(QTimerEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    // Restores the full-screen viewfinder instead of activating the window while it is on.
    void setActiveWindow();

private:
    // The steps of the tick, in their order.
    void recreateDevice();
    void reportMissingCard();
    // The screen saver held off while the power is good, let work otherwise.
    void followPower();
    void startFirstTick();
    void loseDevice();
    void takeCardShutter(int status);
    void followOrientation(int status);
    void waitForMessage();
    void saveRequestedPicture();
    void countFrame();
    // Stops every tick and starts one at `interval` ms: the one place the pace is set.
    void restartTicks(int interval);

    // The keys that act alike in the control window and full screen; false for others.
    bool sharedKeyCommand(int key);
    // Re-creates the capture image at the size of the current format.
    void makeCaptureImage();
    bool isShowingPreview() const;
    // The viewfinder for the screen and the widget that shows the preview now.
    void chooseViewFinder();
    // The size the widget showing the preview was laid out for.
    QSize viewfinderBase() const;

    const CameraPaths paths;
    // Before the device: the slot outlives every link it opened.
    const std::shared_ptr<CardSlot> cardSlot;
    const std::function<uint32_t()> clock;
    CameraSettings values;
    OptionState option;
    CycleState state;
    int32_t rootDevice = -1;

    // Owned; torn down in the destructor in this order after the settings are written:
    // viewfinder and image, full-screen frame, device.
    std::unique_ptr<ViewFinder> viewFinder;
    std::unique_ptr<QImage> captureImage;
    std::unique_ptr<MyFrame> fullScreenWidget;
    std::unique_ptr<CameraDevice> cardDevice;
    std::unique_ptr<PictureWriter> pictureWriter;

    QWidget* viewfinderWidget = nullptr; // "Frame1" or the full-screen frame
    std::unique_ptr<FormScaler> formScaler;
    SystemServices* services = nullptr;       // child of the window
    QPixmap mirrorIcons[2];
    QPixmap directionIcons[2];
    QList<int> timerIds;
    int lastInterval = 0;
};
