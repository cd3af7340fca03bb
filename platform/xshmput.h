#pragma once
// Shows an area of the virtual frame buffer on an X window without the toolkit's repaint:
// its pixels go into shared memory of our own and one MIT-SHM put sends them. The toolkit's
// way (a paint event, its backing store, a put and a wait for the X server's answer) costs
// several times the preview's own work per frame. Internal to the platform library.
#include <QRegion>

class QWidget;

namespace pda::fb {

struct Screen;

// Puts logical screen area `blit` (widget coordinates of `w`) onto the window of `w`, and
// into the window's backing store, so that a later flush of the toolkit's own shows it too.
// False where it cannot (not X, no MIT-SHM, a scaled window, a window format other than 16-
// or 32-bit RGB): the caller repaints then.
bool putOnX(Screen& s, QWidget* w, const QRegion& blit);

} // namespace pda::fb
