#include "form/camerabase.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLCDNumber>
#include <QPushButton>

namespace {

template <typename W>
W* make(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    W* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QPushButton* button(QWidget* parent, const char* name, int x, int y, int w, int h,
                    const QString& text)
{
    QPushButton* b = make<QPushButton>(parent, name, x, y, w, h);
    b->setText(text);
    return b;
}

QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h,
              const QString& text)
{
    QLabel* l = make<QLabel>(parent, name, x, y, w, h);
    l->setText(text);
    return l;
}

} // namespace

CameraBase::CameraBase(QWidget* parent, const char* name, Qt::WindowFlags fl)
    : QWidget(parent, fl)
{
    setObjectName(QString::fromLatin1(name ? name : "CameraBase"));
    resize(270, 333);
    setWindowTitle(tr("CameraBase"));

    ButtonGroup1 = make<QGroupBox>(this, "ButtonGroup1", 0, 160, 240, 130);
    ButtonGroup1->setTitle(QString());

    GroupBox1 = make<QGroupBox>(ButtonGroup1, "GroupBox1", 150, 30, 88, 50);
    GroupBox1->setTitle(tr("Remain"));

    LCDNumber1 = make<QLCDNumber>(GroupBox1, "LCDNumber1", 5, 15, 80, 30);
    LCDNumber1->setFrameShape(QFrame::NoFrame);
    LCDNumber1->setSegmentStyle(QLCDNumber::Flat);

    Line1 = make<QFrame>(ButtonGroup1, "Line1", 0, 30, 140, 8);
    Line1->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    TextLabel1 = label(ButtonGroup1, "TextLabel1", 0, 40, 70, 25, tr("Resolution"));
    TextLabel2 = label(ButtonGroup1, "TextLabel2", 0, 70, 70, 25, tr("Quality"));
    TextLabel3 = label(ButtonGroup1, "TextLabel3", 0, 100, 70, 25, tr("Save to"));

    PushButton6 = button(ButtonGroup1, "PushButton6", 0, 2, 25, 25, tr("F"));
    PushButton5 = button(ButtonGroup1, "PushButton5", 30, 2, 25, 25, tr("M"));
    PushButton4 = button(ButtonGroup1, "PushButton4", 60, 2, 80, 25, tr("DispMode"));

    CheckBox1 = make<QCheckBox>(ButtonGroup1, "CheckBox1", 150, 5, 60, 20);
    CheckBox1->setText(tr("Zoom"));

    PushButton7 = button(ButtonGroup1, "PushButton7", 210, 2, 25, 25, tr("D"));
    PushButton1 = button(ButtonGroup1, "PushButton1", 60, 40, 80, 25, tr("Resolution"));
    PushButton2 = button(ButtonGroup1, "PushButton2", 60, 70, 80, 25, tr("Quality"));
    PushButton3 = button(ButtonGroup1, "PushButton3", 60, 100, 80, 25, tr("SaveTo"));
    // Qt's push buttons have no "on" state outside toggle buttons; the Shutter button
    // is a plain button, so nothing is set for it.
    PushButton0 = button(ButtonGroup1, "PushButton0", 150, 85, 88, 40, tr("Shutter"));

    Frame1 = make<QFrame>(this, "Frame1", 0, 0, 240, 160);
    Frame1->setFrameShape(QFrame::StyledPanel);
    Frame1->setFrameShadow(QFrame::Raised);

    TextLabel4 = make<QLabel>(Frame1, "TextLabel4", 40, 60, 154, 50);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(TextLabel4->sizePolicy().hasHeightForWidth());
    TextLabel4->setSizePolicy(policy);
    TextLabel4->setFrameShape(QFrame::Box);
    TextLabel4->setFrameShadow(QFrame::Raised);
    TextLabel4->setText(tr("Saved"));
    TextLabel4->setAlignment(Qt::AlignCenter);
}

CameraBase::~CameraBase() = default;
