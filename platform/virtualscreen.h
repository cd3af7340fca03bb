#pragma once
// Internal hooks of the direct frame-buffer access, for tests and the virtual PDA's tools.
// Not part of the environment's interface: the application never includes this.
#include "platform/screenrotation.h"

#include <QImage>

#include <memory>

namespace pda {

// Logical screen size of the virtual frame buffer, as the user holds the device.
constexpr int virtualScreenWidth = 240;
constexpr int virtualScreenHeight = 320;

// The virtual frame buffer's memory: RGB565 in the screen's physical orientation. A null
// image on a real frame buffer.
const QImage& virtualFrameBuffer();
// The virtual frame buffer as the user sees it: logical size, RGB565.
QImage logicalScreenshot();

struct ScreenState;

// A screen of its own for as long as it lives: picked as the program's first use picks its
// screen (the platform's back end, PDA_SCREEN_ROTATION as it is now), and used instead of
// the program's by direct painters, qt_screen and the functions above. Scopes nest; the
// program's own screen is made once and never replaced.
class ScopedScreen {
public:
    ScopedScreen();
    ~ScopedScreen();
    ScopedScreen(const ScopedScreen&) = delete;
    ScopedScreen& operator=(const ScopedScreen&) = delete;

private:
    std::unique_ptr<ScreenState> state;
    ScreenState* outer;
};

} // namespace pda
