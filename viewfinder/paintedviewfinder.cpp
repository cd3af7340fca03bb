#include "viewfinder/paintedviewfinder.h"

#include "platform/pixels.h"

#include <QPaintEvent>
#include <QPainter>

PaintedViewFinder::PaintedViewFinder()
    : ViewFinder(QSize(240, 320))
{
    // Covers only the frame, which it paints whole: nothing under it needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Taps and keys belong to the host (a tap on the full-screen frame leaves it).
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

CardRequest PaintedViewFinder::cardRequest(int width, int height) const
{
    return {width, height, true};
}

void PaintedViewFinder::setHost(QWidget* host, const QSize& size)
{
    base = size;
    const bool visible = !isHidden();
    setParent(host);
    // Under the host's other children (the message label).
    lower();
    if (visible)
        show();
}

void PaintedViewFinder::render(int width, int height)
{
    if (!parentWidget())
        return;
    const QRect area = previewArea(parentWidget()->size(), base, width, height);
    shown = QSize(width, height);
    if (geometry() != area)
        setGeometry(area);
    if (isHidden())
        show();
    repaint();
}

void PaintedViewFinder::clear()
{
    hide();
}

void PaintedViewFinder::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect source(QPoint(0, 0), shown);
    const QImage* picture = &frame();
    if (pda::expandsRgb16(pda::paintFormat(this))) {
        pda::expandRgb16(frame(), shown, expanded);
        picture = &expanded;
    }
    if (size() == shown) {
        painter.drawImage(QPoint(0, 0), *picture, source);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), *picture, source);
}
