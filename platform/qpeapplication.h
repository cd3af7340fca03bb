#pragma once
// The PDA environment's application object: a QApplication that also turns SIGTERM and
// SIGINT into a close of the main widget, so a logout never loses the settings.
#include <QApplication>
#include <QPointer>
#include <QWidget>

class QPEApplication : public QApplication {
    Q_OBJECT
public:
    // type 1: a GUI client of the window server (the only kind this stand-in knows).
    QPEApplication(int& argc, char** argv, int type = 1);
    ~QPEApplication() override;

    // hint 1 keeps the on-screen input method off for the widget.
    static void setInputMethodHint(QWidget* widget, int hint);
    void showMainWidget(QWidget* widget, bool noMaximize = false);

private:
    bool notify(QObject* receiver, QEvent* event) override;
    void onTerminationSignal();
    QPointer<QWidget> main;
    bool closing = false;
};
