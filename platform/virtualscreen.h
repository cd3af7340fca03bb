#pragma once
// Internal hooks of the direct frame-buffer access, for tests and the virtual PDA's tools.
// Not part of the environment's interface: the application never includes this.
#include "platform/screenrotation.h"

#include <QImage>

namespace pda {

// Logical screen size of the virtual frame buffer, as the user holds the device.
constexpr int virtualScreenWidth = 240;
constexpr int virtualScreenHeight = 320;

// The virtual frame buffer's memory: RGB565 in the screen's physical orientation. A null
// image on a real frame buffer.
const QImage& virtualFrameBuffer();
// The virtual frame buffer as the user sees it: logical size, RGB565.
QImage logicalScreenshot();

} // namespace pda
