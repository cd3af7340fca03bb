#include "platform/screenrotation.h"

QRect pda::logicalToPhysical(const QRect& r, int rotation, int sw, int sh)
{
    const int x = r.x(), y = r.y(), w = r.width(), h = r.height();
    switch (rotation) {
    case 0:
        return QRect(QPoint(x, y), QPoint(x + w - 1, y + h - 1));
    case 1:
        return QRect(QPoint(y, sw - x - w), QPoint(y + h - 1, sw - x - 1));
    case 2:
        return QRect(QPoint(sw - x - w, sh - y - h), QPoint(sw - x - 1, sh - y - 1));
    case 3:
        return QRect(QPoint(sh - y - h, x), QPoint(sh - y - 1, x + w - 1));
    default:
        return QRect();
    }
}

QPoint pda::logicalToPhysical(const QPoint& p, int rotation, int sw, int sh)
{
    return logicalToPhysical(QRect(p, QSize(1, 1)), rotation, sw, sh).topLeft();
}
