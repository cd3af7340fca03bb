#pragma once
// Internal hooks of the direct frame-buffer access, for tests and the virtual PDA's tools.
// Not part of the environment's interface: the application never includes this.
#include <QImage>
#include <QPoint>
#include <QRect>

namespace pda {

// Logical screen size of the virtual frame buffer, as the user holds the device.
constexpr int virtualScreenWidth = 240;
constexpr int virtualScreenHeight = 320;

// A rectangle of the logical screen (sw x sh) in frame-buffer coordinates for rotation
// 0 to 3; an empty rectangle for any other rotation.
QRect logicalToPhysical(const QRect& logical, int rotation, int sw, int sh);
// The physical pixel that shows logical pixel p.
QPoint logicalToPhysical(const QPoint& p, int rotation, int sw, int sh);

// The virtual frame buffer's memory: RGB565 in the screen's physical orientation. A null
// image on a real frame buffer.
const QImage& virtualFrameBuffer();
// The virtual frame buffer as the user sees it: logical size, RGB565.
QImage logicalScreenshot();
// Forgets the screen; the next use picks the back end and PDA_SCREEN_ROTATION anew.
void resetScreen();

} // namespace pda
