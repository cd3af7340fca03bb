#pragma once
// The preview as a Wayland sub-surface of the window: frames of 5-6-5 pixels in shared memory,
// which the card is read into and the compositor reads from, with no conversion and no copy,
// and without the window's own surface being redrawn for each frame.
#include <QImage>
#include <QPoint>
#include <QSize>

#include <memory>
#include <vector>

class QWindow;

namespace pda::wayland {

class PreviewSurface {
public:
    // Null where the display is not Wayland or the compositor offers no sub-surfaces or no
    // 5-6-5 shared memory. Frames are `frameSize` 16-bit images.
    static std::unique_ptr<PreviewSurface> create(const QSize& frameSize);
    ~PreviewSurface();
    PreviewSurface(const PreviewSurface&) = delete;
    PreviewSurface& operator=(const PreviewSurface&) = delete;

    // The image the next frame goes into: shared memory the compositor is not reading, or
    // while it holds all of it, memory of our own. Another one after each show(). The image
    // only wraps that memory: whoever holds it must be its only holder, or writing into it
    // would copy it.
    QImage frame() const;

    // Whether the compositor can show a frame scaled (it offers wp_viewporter).
    bool scales() const;
    // Shows the top-left `size` of frame(), scaled to `onScreen`, with its top-left corner at
    // `position` of `window`'s surface (the window's frame margins included). False when it
    // cannot: the window has no surface now, or the frame would be scaled where the
    // compositor does not scale. `moved` tells whether the window's surface must be committed
    // for the position to apply (a new place or a new sub-surface).
    bool show(QWindow* window, const QPoint& position, const QSize& size, const QSize& onScreen, bool* moved);
    // Takes the preview off the window; the next show() brings it back.
    void hide();

private:
    struct Connection;
    explicit PreviewSurface(std::unique_ptr<Connection> connection);
    void takeFreeSlot();

    std::unique_ptr<Connection> wl;
    uchar* next = nullptr;
};

} // namespace pda::wayland
