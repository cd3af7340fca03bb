#include "viewfinder/myframe.h"

#include <QKeyEvent>
#include <QMouseEvent>

MyFrame::MyFrame(QWidget* parent, Qt::WindowFlags f)
    : QFrame(parent, f)
{
    setFocusPolicy(Qt::StrongFocus);
}

MyFrame::~MyFrame() = default;

void MyFrame::mousePressEvent(QMouseEvent*)
{
    emit keyevent(Qt::Key_Space);
}

void MyFrame::keyPressEvent(QKeyEvent* e)
{
    // Auto-repeated presses are forwarded too; the base class never sees the key.
    emit keyevent(e->key());
}
