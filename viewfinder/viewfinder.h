#pragma once
// The viewfinder: the card's preview frames on the screen, in the control window's frame
// or full screen. One implementation per kind of screen (a direct copy into screen memory,
// painting through the toolkit, or on Wayland a sub-surface the compositor reads the frame
// from); each owns the frame the card's preview is read into and draws it itself. The
// window only says which widget shows the preview, and when.
#include <QImage>
#include <QRect>
#include <QSize>

#include <memory>

class QWidget;

// What the card is asked for, for a width x height preview in a viewfinder's frame: the
// size in the card's order, and whether the card turns its frames upright.
struct CardRequest {
    int width = 0;
    int height = 0;
    bool upright = true;
};

class ViewFinder {
public:
    virtual ~ViewFinder();
    ViewFinder(const ViewFinder&) = delete;
    ViewFinder& operator=(const ViewFinder&) = delete;

    // The card's preview is read into this 16-bit image; its shape is the viewfinder's.
    QImage& frame() { return image; }
    const QImage& frame() const { return image; }

    // Whether frames go straight into screen memory.
    virtual bool isDirect() const = 0;
    virtual CardRequest cardRequest(int width, int height) const = 0;
    // The widget that shows the preview from now on, laid out for a `base` size (it is
    // larger where the form is scaled to a larger screen).
    virtual void setHost(QWidget* host, const QSize& base) = 0;
    // Shows the top-left width x height of the frame where previewArea() puts it.
    virtual void render(int width, int height) = 0;
    // Forgets the frame shown: the host shows only its background until the next render.
    virtual void clear() = 0;

protected:
    explicit ViewFinder(const QSize& frameSize);
    // Frames go into `image` from now on (same shape); it must be its memory's only holder.
    void setFrame(const QImage& image);

private:
    QImage image;
};

// Direct mode applies where it is wanted, the screen takes the card's rows straight into its
// memory, and the host shows frames at their own size: a scaled host has its frames painted.
bool directModeApplies(bool wanted, const QSize& host, const QSize& base);

// A viewfinder for direct mode or for the painted preview (on Wayland a sub-surface where the
// compositor takes 5-6-5 frames), its frame white.
std::unique_ptr<ViewFinder> makeViewFinder(bool direct);

// The factor a host of `host` size laid out for `base` was scaled by: the largest that
// keeps the base's proportions, never below 1.
qreal hostScale(const QSize& host, const QSize& base);

// Where a width x height frame lies in a host of `host` size laid out for `base`: scaled by
// the host's factor and centred (halves rounded down, negative where the frame is larger).
QRect previewArea(const QSize& host, const QSize& base, int width, int height);
