#include "viewfinder/viewfinder.h"

#include "platform/directpainter.h"
#include "platform/screenfit.h"
#include "viewfinder/directviewfinder.h"
#include "viewfinder/paintedviewfinder.h"
#include "viewfinder/waylandviewfinder.h"

#include <cmath>

ViewFinder::ViewFinder(const QSize& frameSize)
    : image(frameSize, QImage::Format_RGB16)
{
    image.fill(255);
}

ViewFinder::~ViewFinder() = default;

void ViewFinder::setFrame(const QImage& frame)
{
    image = frame;
}

bool directModeApplies(bool wanted, const QSize& host, const QSize& base)
{
    return wanted && qt_screen->directAccess() && hostScale(host, base) == 1;
}

std::unique_ptr<ViewFinder> makeViewFinder(bool direct)
{
    if (direct)
        return std::make_unique<DirectViewFinder>();
    if (auto surface = pda::wayland::PreviewSurface::create(QSize(240, 320)))
        return std::make_unique<WaylandViewFinder>(std::move(surface));
    return std::make_unique<PaintedViewFinder>();
}

qreal hostScale(const QSize& host, const QSize& base)
{
    return pda::fitScale(host, base);
}

QRect previewArea(const QSize& host, const QSize& base, int width, int height)
{
    const qreal scale = hostScale(host, base);
    const QSize size(int(std::lround(width * scale)), int(std::lround(height * scale)));
    return QRect(QPoint((host.width() - size.width()) >> 1, (host.height() - size.height()) >> 1), size);
}
