#pragma once
// Direct frame-buffer access: the visible part of a widget in screen memory, the memory's
// address and line step, and the screen's rotation. Two back ends: a Linux frame buffer
// device (on Qt's linuxfb platform) or a virtual 16-bit frame buffer presented in the
// widget being drawn into.
#include <QRect>
#include <QRegion>

class QWidget;

class QDirectPainter {
public:
    // Locks the frame buffer for one copy into the widget's visible part.
    explicit QDirectPainter(QWidget* widget);
    // Shows what was written (virtual frame buffer) and releases the lock.
    ~QDirectPainter();
    QDirectPainter(const QDirectPainter&) = delete;
    QDirectPainter& operator=(const QDirectPainter&) = delete;

    int numRects() const;
    QRect rect(int i) const;  // in frame-buffer (physical) coordinates
    int xOffset() const;      // widget origin on the screen (logical coordinates)
    int yOffset() const;
    unsigned char* frameBuffer() const;
    int lineStep() const;     // bytes per frame-buffer line

private:
    QWidget* widget;
    QRegion region;         // physical
    QRegion logicalRegion;  // the same area on the logical screen
    QPoint offset;
};

// The screen driver: logical size (as the user sees it) and rotation in quarter turns.
class PdaScreen {
public:
    // Whether a preview frame's rows may be copied straight into screen memory: the memory
    // holds 16-bit RGB565 pixels, and the screen is turned a quarter turn (rotation 1 or
    // 3), in which the card's turned frames have the screen's rows, in the same rotation
    // the toolkit draws in. Otherwise the preview is to be drawn with a painter.
    bool directAccess() const;
    int transformOrientation() const;
    int width() const;
    int height() const;
};

extern PdaScreen* const qt_screen;
