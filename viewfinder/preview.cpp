#include "viewfinder/preview.h"

#include "platform/directpainter.h"
#include "viewfinder/blit.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QWidget>

QPoint centredIn(const QSize& outer, int width, int height)
{
    return QPoint((outer.width() - width) >> 1, (outer.height() - height) >> 1);
}

bool directPreviewPossible()
{
    return qt_screen->directAccess();
}

void blitPreview(QWidget* widget, const QImage& image, int x, int y, int width, int height)
{
    QDirectPainter painter(widget);
    if (painter.numRects() != 1)
        return; // partly covered: nothing is drawn for this frame
    BlitInput in;
    in.rotation = qt_screen->transformOrientation();
    in.x = x + painter.xOffset();
    in.y = y + painter.yOffset();
    in.width = width;
    in.height = height;
    in.screenWidth = qt_screen->width();
    in.screenHeight = qt_screen->height();
    in.visible = painter.rect(0);
    in.lineStep = painter.lineStep();
    in.imageBytesPerLine = int(image.bytesPerLine());
    in.imageHeight = image.height();
    runBlit(planBlit(in), painter.frameBuffer(), image.constBits());
}

void PreviewPainter::watch(QWidget* widget)
{
    widget->installEventFilter(this);
}

void PreviewPainter::clear()
{
    area = QRect();
}

void PreviewPainter::paint(QWidget* widget, const QImage& frame, const QRect& where)
{
    // The same place as last time: only the frame changed, the background around it did not.
    const bool samePlace = widget == target && where == area;
    target = widget;
    image = &frame;
    area = where;
    // Qt paints widgets only from their paint event: the event filter draws.
    if (samePlace)
        widget->repaint(where);
    else
        widget->repaint();
}

bool PreviewPainter::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() != QEvent::Paint || watched != target || area.isNull() || !image)
        return QObject::eventFilter(watched, e);
    QPainter painter(target);
    // A widget that fills its background has had it filled already.
    if (!target->autoFillBackground())
        painter.fillRect(target->rect(), target->palette().window());
    painter.drawImage(area.topLeft(), *image, QRect(QPoint(0, 0), area.size()));
    return true;
}
