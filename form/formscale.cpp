#include "form/formscale.h"

#include "platform/screenfit.h"

#include <QAbstractButton>
#include <QWidget>

#include <algorithm>
#include <cmath>

QRect formArea(const QSize& available, const QSize& base, qreal scale)
{
    const QSize size(int(std::lround(base.width() * scale)), int(std::lround(base.height() * scale)));
    return QRect(QPoint(std::max(0, (available.width() - size.width()) / 2), 0), size);
}

QRect scaledGeometry(const QRect& geometry, qreal scale, const QPoint& origin)
{
    const int left = int(std::lround(geometry.x() * scale));
    const int top = int(std::lround(geometry.y() * scale));
    const int right = int(std::lround((geometry.x() + geometry.width()) * scale));
    const int bottom = int(std::lround((geometry.y() + geometry.height()) * scale));
    return QRect(left, top, right - left, bottom - top).translated(origin);
}

FormScaler::FormScaler(QWidget* form, const QSize& base)
    : form(form)
    , base(base)
    , where(QPoint(0, 0), base)
{
    const QList<QWidget*> widgets = form->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (w->isWindow())
            continue;
        Part part;
        part.widget = w;
        part.geometry = w->geometry();
        part.font = w->font();
        part.ownFont = w->testAttribute(Qt::WA_SetFont);
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            part.iconSize = button->iconSize();
        parts.push_back(part);
    }
    Part whole;
    whole.widget = form;
    whole.isForm = true;
    whole.font = form->font();
    whole.ownFont = form->testAttribute(Qt::WA_SetFont);
    parts.push_back(whole); // the form's own font, last
}

void FormScaler::fit(const QSize& available)
{
    const qreal scale = pda::fitScale(available, base);
    const QRect area = formArea(available, base, scale);
    if (scale == current && area == where)
        return;
    current = scale;
    where = area;
    for (const Part& part : parts)
        place(part, area.topLeft());
}

void FormScaler::place(const Part& part, const QPoint& origin) const
{
    QWidget* w = part.widget;
    if (!w)
        return; // a widget gone since
    QFont font = part.font;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * current);
    else if (font.pixelSize() > 0)
        font.setPixelSize(int(std::lround(font.pixelSize() * current)));
    if (current == 1 && !part.ownFont)
        w->setFont(QFont()); // inherited again, as laid out
    else
        w->setFont(font);
    if (!part.iconSize.isEmpty()) {
        const QSize icon(int(std::lround(part.iconSize.width() * current)),
                         int(std::lround(part.iconSize.height() * current)));
        static_cast<QAbstractButton*>(w)->setIconSize(icon);
    }
    if (part.isForm)
        return;
    // Only the widgets placed directly on the form move with its origin. A widget that has
    // left the form meanwhile (the message label over the full-screen frame) keeps its
    // place there and takes only its size.
    const bool onForm = w->parentWidget() == form;
    if (!form->isAncestorOf(w)) {
        w->resize(scaledGeometry(part.geometry, current).size());
        return;
    }
    w->setGeometry(scaledGeometry(part.geometry, current, onForm ? origin : QPoint()));
}
