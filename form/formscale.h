#pragma once
// The form on a screen larger than the one it was laid out for: a phone's compositor
// maximises every window (360x720 and more), and the form, laid out for 240x320, is then
// scaled as a whole, every widget's place, size, font and icons by one factor, so that it
// fills the width (or the height) in its own proportions. Widgets are really moved and
// resized, so taps land where the user sees them.
#include <QFont>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

// Where the form of `base` size scaled by `scale` lies in a window of `available` size:
// centred across, at the top, where a phone's viewfinder sits nearest the camera.
QRect formArea(const QSize& available, const QSize& base, qreal scale);

// `geometry` scaled by `scale` and moved by `origin`, its edges rounded so that widgets
// that touch still touch.
QRect scaledGeometry(const QRect& geometry, qreal scale, const QPoint& origin = QPoint());

class FormScaler {
public:
    // Takes the places of `form`'s widgets as they are now, laid out for `base`.
    FormScaler(QWidget* form, const QSize& base);

    // Lays the form out for a window of `available` size. Nothing is touched while the
    // factor stays 1 from the start.
    void fit(const QSize& available);
    qreal scale() const { return current; }
    // Where the form lies in the window.
    QRect area() const { return where; }

private:
    struct Part {
        QPointer<QWidget> widget;
        QRect geometry;
        QFont font;
        bool ownFont = false; // the font was set on the widget itself, not inherited
        QSize iconSize;       // empty: not a button
        bool isForm = false;
    };
    void place(const Part& part, const QPoint& origin) const;

    QWidget* const form;
    const QSize base;
    std::vector<Part> parts;
    qreal current = 1;
    QRect where;
};
