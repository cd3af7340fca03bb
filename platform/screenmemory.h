#pragma once
// The screen memory that direct painting writes into: a Linux frame-buffer device, mapped
// (Qt's linuxfb platform), a virtual 16-bit frame buffer in the program's own memory (X11,
// offscreen), or none (Wayland and any display server that keeps the screen to itself).
// Internal to the platform library.
#include "platform/uniquefd.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <memory>
#include <sys/mman.h>
#include <vector>

class QWidget;

namespace pda::fb {

// An open frame-buffer device and its mapped memory, released together.
class FbMapping {
public:
    FbMapping() = default;
    ~FbMapping()
    {
        if (addr != MAP_FAILED)
            ::munmap(addr, length);
    }
    FbMapping(const FbMapping&) = delete;
    FbMapping& operator=(const FbMapping&) = delete;

    UniqueFd fd;
    void* addr = MAP_FAILED;
    size_t length = 0;
};

struct Screen {
    int rotation = 0;
    QSize logical;     // as the user sees it
    QSize physical;    // as the memory is laid out
    uchar* base = nullptr;            // null: no screen memory at all
    int lineStep = 0;
    bool isVirtual = true;
    bool rgb565 = true;               // the memory holds the preview's own pixel layout
    std::vector<uchar> storage;       // virtual frame buffer memory
    QImage image;                     // wraps storage, never detached
    std::unique_ptr<FbMapping> fb;    // real frame buffer
};

// The program's one screen, chosen for the platform at the first use.
Screen& screen();
// The widget's origin on the logical screen.
QPoint screenOffset(const QWidget* w);
// Copies logical screen area `area` out of the virtual frame buffer, a row at a time.
QImage readLogical(Screen& s, const QRect& area);
// The same into `into`, kept between calls, in `format`: RGB16 as it is, or RGB32 expanded
// (pda::expandsRgb16). It is made or remade only when its size or format changes.
void readLogical(Screen& s, const QRect& area, QImage::Format format, QImage& into);
// The same into the part of `into` at `at`, which must lie inside it, in its own format:
// RGB16, or 32-bit RGB (pda::expandsRgb16).
void readLogical(Screen& s, const QRect& area, QImage& into, const QPoint& at);
// Writes `picture` (any format) to logical screen area `area` of the virtual frame buffer.
void writeLogical(Screen& s, const QRect& area, const QImage& picture);

} // namespace pda::fb
