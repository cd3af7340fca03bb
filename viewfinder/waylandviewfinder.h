#pragma once
// The painted preview on Wayland, where the compositor takes 5-6-5 frames: each frame goes
// into shared memory shown by a sub-surface over the preview area, so the window is not
// redrawn for it. Where the sub-surface cannot show the frame as the painted preview would
// (the form scaled where the compositor cannot scale it, a label over the frame, the window
// without a surface), it is painted.
#include "viewfinder/paintedviewfinder.h"

#include "platform/previewsurface.h"

#include <memory>

class WaylandViewFinder : public PaintedViewFinder {
    Q_OBJECT
public:
    explicit WaylandViewFinder(std::unique_ptr<pda::wayland::PreviewSurface> surface);

    void render(int width, int height) override;
    void clear() override;

private:
    bool surfaceShows(const QRect& area, int width, int height) const;

    std::unique_ptr<pda::wayland::PreviewSurface> surface;
};
