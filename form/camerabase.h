#pragma once
// The control window's form: every widget at its fixed place, no behaviour.
#include <QWidget>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLCDNumber;
class QPushButton;

class CameraBase : public QWidget {
    Q_OBJECT
public:
    explicit CameraBase(QWidget* parent = nullptr, const char* name = nullptr,
                        Qt::WindowFlags fl = {});
    ~CameraBase() override;

    // In the order of creation.
    QGroupBox* ButtonGroup1;   // holds every control; a titled frame without a title
    QGroupBox* GroupBox1;
    QLCDNumber* LCDNumber1;
    QFrame* Line1;
    QLabel* TextLabel1;
    QLabel* TextLabel2;
    QLabel* TextLabel3;
    QPushButton* PushButton6;
    QPushButton* PushButton5;
    QPushButton* PushButton4;
    QCheckBox* CheckBox1;
    QPushButton* PushButton7;
    QPushButton* PushButton1;
    QPushButton* PushButton2;
    QPushButton* PushButton3;
    QPushButton* PushButton0;
    QFrame* Frame1;
    QLabel* TextLabel4;
};
