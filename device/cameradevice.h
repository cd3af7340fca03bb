#pragma once
// The link to the camera card: one write() per command, one read() per status word or
// frame, nothing retried.
#include "device/cardlink.h"

#include <memory>

class QImage;

class CameraDevice {
public:
    // Mode bits, set and cleared through setMode().
    enum Mode {
        ModeCapture = 0x01,
        ModeSlow = 0x02,
        ModeMirror = 0x04,
        ModeFlip = 0x08,
    };

    // Status bits returned by readStatus().
    enum Status {
        ShutterPressed = 0x01,
        Orientation = 0x02,
        NoFrame = 0x04,
        CardPresent = 0x08,
        ReadFailed = 0x10,
    };

    // The card at the driver node.
    CameraDevice();
    // For tests and tools: the same link on another node.
    explicit CameraDevice(const char* node);
    // The card in `slot`, opened once; a lost card takes a new device.
    explicit CameraDevice(CardSlot& slot);
    ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    bool close();
    bool isOpen() const { return link != nullptr; }

    bool readBytes(void* buffer, int length);
    bool writeBytes(const char* data, int length);

    // Tri-state per mode bit 0..3: > 0 sets it, 0 clears it, < 0 leaves it.
    bool setMode(int capture, int slow, int mirrorA, int mirrorB);
    bool sendGeometry(const QImage& image, bool upright, int width, int height, int zoomValue);
    bool sendB();
    bool sendC();
    int readStatus();
    bool readFrame(QImage& image);

    int mode() const { return modeBits; }

    // The zoom argument of a geometry command for zoom level 0, 1 or 2.
    static constexpr int zoomValue(int zoom) { return 1 << (zoom + 8); }

private:
    void start(CardSlot& slot);

    std::unique_ptr<CardLink> link;
    int modeBits = 0;
};
