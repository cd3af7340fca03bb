// Helper for tst_platform_application: shows a main widget with QPEApplication and reports
// on stdout what happens to it. Arguments, any of:
//   slow       the close takes two seconds
//   single     claims the single instance first; prints "second" and ends when refused
//   minimized  the window starts minimized and reports "minimized" / "normal" changes
//   card       reports every "QPE/Card" message
#include "platform/qcop.h"
#include "platform/qpeapplication.h"

#include <QCloseEvent>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

class Window : public QWidget {
public:
    explicit Window(bool slow_) : slow(slow_) {}
    ~Window() override
    {
        QCopEnvelope e("QPE/System", "linkChanged(QString)");
        e << "";
        say("destroyed");
    }
    bool reportStates = false;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        say("closeEvent");
        if (slow)
            QThread::sleep(2);
        event->accept();
    }
    void changeEvent(QEvent* event) override
    {
        if (reportStates && event->type() == QEvent::WindowStateChange)
            say(isMinimized() ? "minimized" : "normal");
        QWidget::changeEvent(event);
    }

private:
    bool slow;
};

} // namespace

int main(int argc, char** argv)
{
    QPEApplication app(argc, argv, 1);
    const QStringList args = app.arguments().mid(1);
    if (args.contains("single") && !app.claimSingleInstance()) {
        say("second");
        return 0;
    }
    int rc = 0;
    {
        Window w(args.contains("slow"));
        QCopChannel card("QPE/Card");
        if (args.contains("card"))
            QObject::connect(&card, &QCopChannel::received,
                             [](const QByteArray& message) { say(message.constData()); });
        QPEApplication::setInputMethodHint(&w, 1);
        app.showMainWidget(&w, false);
        if (args.contains("minimized")) {
            w.showMinimized();
            w.reportStates = true;
        }
        // A second top-level window must not keep the program running after the close.
        QWidget other;
        other.show();
        QTimer::singleShot(0, [] { say("ready"); });
        rc = app.exec();
    }
    return rc;
}
