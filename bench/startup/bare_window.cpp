// The baseline of bench_startup: a bare Qt window with the camera window's fifteen widgets
// (8 push buttons, 4 labels, a check box, an LCD number, a frame), 240x320, shown. Prints
// "painted" on stdout from its first paint.
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLCDNumber>
#include <QPushButton>
#include <QWidget>

#include <cstdio>

namespace {

class Window : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        if (painted)
            return;
        painted = true;
        std::printf("painted\n");
        std::fflush(stdout);
    }

private:
    bool painted = false;
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window;
    window.resize(240, 320);
    auto* frame = new QFrame(&window);
    frame->setGeometry(0, 0, 240, 240);
    for (int i = 0; i < 8; ++i)
        (new QPushButton(QStringLiteral("B%1").arg(i), &window))->setGeometry(30 * i, 240, 30, 30);
    for (int i = 0; i < 4; ++i)
        (new QLabel(QStringLiteral("Label %1").arg(i), &window))->setGeometry(60 * i, 270, 60, 20);
    (new QCheckBox(QStringLiteral("Zoom"), &window))->setGeometry(0, 295, 80, 20);
    (new QLCDNumber(5, &window))->setGeometry(160, 295, 80, 20);
    window.show();
    return app.exec();
}
