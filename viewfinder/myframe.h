#pragma once
// The full-screen viewfinder frame: every key press and every tap becomes keyevent(key),
// a tap as 32 (the space key).
#include <QFrame>

class MyFrame : public QFrame {
    Q_OBJECT
public:
    explicit MyFrame(QWidget* parent = nullptr, Qt::WindowFlags f = {});
    ~MyFrame() override;

signals:
    void keyevent(int key);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};
