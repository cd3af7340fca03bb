// The direct painter's interface: a widget's visible part in screen memory.
#include "platform/directpainter.h"

#include "platform/presenter.h"
#include "platform/screenmemory.h"
#include "platform/screenrotation.h"
#include "platform/stacking.h"
#include "platform/virtualscreen.h"

#include <QScreen>
#include <QWidget>

using pda::fb::screen;
using pda::fb::screenOffset;
using pda::fb::Screen;
using pda::fb::readLogical;


// ---- The virtual frame buffer ----------------------------------------------------------------

const QImage& pda::virtualFrameBuffer()
{
    return screen().image;
}

QImage pda::logicalScreenshot()
{
    Screen& s = screen();
    if (!s.isVirtual)
        return QImage();
    return readLogical(s, QRect(QPoint(0, 0), s.logical));
}

// ---- QDirectPainter and the screen object ----------------------------------------------------

QDirectPainter::QDirectPainter(QWidget* w)
    : widget(w)
{
    if (!widget)
        return;
    Screen& s = screen();
    offset = screenOffset(widget);
    if (!s.base)
        return;  // no screen memory: nothing is visible to a direct painter
    // Visible children (a message label on the viewfinder) hide the memory under them.
    QRegion visible = widget->visibleRegion();
    for (const QObject* child : widget->children()) {
        const auto* cw = qobject_cast<const QWidget*>(child);
        if (cw && !cw->isWindow() && cw->isVisible())
            visible -= cw->geometry();
    }
    logicalRegion = visible.translated(offset) & QRect(QPoint(0, 0), s.logical);
    // So do other windows over it (a message box): the blit must not paint over them.
    const QScreen* qs = widget->screen();
    const QPoint screenOrigin = qs ? qs->geometry().topLeft() : QPoint();
    for (const QWidget* other : pda::fb::windowsAbove(widget->window()))
        logicalRegion -= other->frameGeometry().translated(-screenOrigin);
    for (const QRect& r : logicalRegion)
        region += pda::logicalToPhysical(r, s.rotation, s.logical.width(), s.logical.height());
    if (s.isVirtual && !logicalRegion.isEmpty())
        pda::fb::watch(widget);
}

QDirectPainter::~QDirectPainter()
{
    if (widget && !logicalRegion.isEmpty() && screen().isVirtual)
        pda::fb::present(widget, logicalRegion.translated(-offset));
}

int QDirectPainter::numRects() const
{
    return region.rectCount();
}

QRect QDirectPainter::rect(int i) const
{
    if (i < 0 || i >= region.rectCount())
        return QRect();
    return *(region.begin() + i);
}

int QDirectPainter::xOffset() const
{
    return offset.x();
}

int QDirectPainter::yOffset() const
{
    return offset.y();
}

unsigned char* QDirectPainter::frameBuffer() const
{
    return screen().base;
}

int QDirectPainter::lineStep() const
{
    return screen().lineStep;
}

bool PdaScreen::directAccess() const
{
    const Screen& s = screen();
    return s.base && s.rgb565 && (s.rotation == 1 || s.rotation == 3);
}

int PdaScreen::transformOrientation() const
{
    return screen().rotation;
}

int PdaScreen::width() const
{
    return screen().logical.width();
}

int PdaScreen::height() const
{
    return screen().logical.height();
}

namespace {
PdaScreen theScreen;
}

PdaScreen* const qt_screen = &theScreen;
