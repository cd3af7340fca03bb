// Helper for tst_platform_application: shows a main widget with QPEApplication and reports
// its close and destruction on stdout. "slow" makes the close take two seconds.
#include "platform/qcop.h"
#include "platform/qpeapplication.h"

#include <QCloseEvent>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class Window : public QWidget {
public:
    explicit Window(bool slow_) : slow(slow_) {}
    ~Window() override
    {
        QCopEnvelope e("QPE/System", "linkChanged(QString)");
        e << "";
        std::printf("destroyed\n");
        std::fflush(stdout);
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        std::printf("closeEvent\n");
        std::fflush(stdout);
        if (slow)
            QThread::sleep(2);
        event->accept();
    }

private:
    bool slow;
};

} // namespace

int main(int argc, char** argv)
{
    QPEApplication app(argc, argv, 1);
    const bool slow = argc > 1 && qstrcmp(argv[1], "slow") == 0;
    int rc = 0;
    {
        Window w(slow);
        QPEApplication::setInputMethodHint(&w, 1);
        app.showMainWidget(&w, false);
        // A second top-level window must not keep the program running after the close.
        QWidget other;
        other.show();
        QTimer::singleShot(0, [] {
            std::printf("ready\n");
            std::fflush(stdout);
        });
        rc = app.exec();
    }
    return rc;
}
