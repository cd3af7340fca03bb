#include "viewfinder/waylandviewfinder.h"

#include <QWindow>

WaylandViewFinder::WaylandViewFinder(std::unique_ptr<pda::wayland::PreviewSurface> previewSurface)
    : surface(std::move(previewSurface))
{
    setFrame(surface->frame());
    frame().fill(255);
}

bool WaylandViewFinder::surfaceShows(const QRect& area, int width, int height) const
{
    const QWidget* host = parentWidget();
    const QWindow* window = host->window()->windowHandle();
    if (!window || !window->isExposed() || window->devicePixelRatio() != 1)
        return false;
    if (area.size() != QSize(width, height) && !surface->scales())
        return false;
    // The sub-surface lies over the whole window: nothing of the host's may show over the frame.
    for (const QObject* child : host->children()) {
        const auto* w = qobject_cast<const QWidget*>(child);
        if (w && w != this && !w->isWindow() && w->isVisible() && w->geometry().intersects(area))
            return false;
    }
    return true;
}

void WaylandViewFinder::render(int width, int height)
{
    QWidget* host = parentWidget();
    if (!host)
        return;
    const QRect area = previewArea(host->size(), base, width, height);
    if (surfaceShows(area, width, height)) {
        shown = QSize(width, height);
        // The widget stays under the sub-surface, so that nothing else shows there when the
        // frame is painted again.
        if (geometry() != area)
            setGeometry(area);
        if (isHidden())
            show();
        QWindow* window = host->window()->windowHandle();
        const QMargins margins = window->frameMargins();
        const QPoint at = mapTo(host->window(), QPoint(0, 0)) + QPoint(margins.left(), margins.top());
        bool moved = false;
        if (surface->show(window, at, shown, area.size(), &moved)) {
            setFrame(surface->frame());
            if (moved)
                update();  // the window's next commit puts the sub-surface in its place
            return;
        }
    }
    surface->hide();
    PaintedViewFinder::render(width, height);
}

void WaylandViewFinder::clear()
{
    surface->hide();
    PaintedViewFinder::clear();
}
