#pragma once
// The PDA environment's application object: a QApplication that also turns SIGTERM and
// SIGINT into a close of the main widget, so a logout never loses the settings. On a
// desktop it offers what the handheld's environment would: memory-card notices from the
// kernel's mount table, the screen-saver level forwarded to the session's screen saver, and
// one running instance per application.
#include <QApplication>
#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QWidget>

class QCopChannel;
namespace pda {
class MountWatcher;
class CardNoticeFilter;
class ScreenSaverInhibitor;
}

class QPEApplication : public QApplication {
    Q_OBJECT
public:
    // type 1: a GUI client of the window server (the only kind this stand-in knows).
    QPEApplication(int& argc, char** argv, int type = 1);
    ~QPEApplication() override;

    // hint 1 keeps the on-screen input method off for the widget.
    static void setInputMethodHint(QWidget* widget, int hint);
    void showMainWidget(QWidget* widget, bool noMaximize = false);

    // Takes the application's name on the session bus. False when another instance holds
    // it: that one has been asked to come to the front ("raise()" on
    // "QPE/Application/<name>") and this one should end without touching anything. True
    // without a session bus.
    bool claimSingleInstance();

    // False where no window can ever become the active one: a Wayland seat without a
    // keyboard (a kiosk), where no client gets the keyboard focus.
    static bool windowsCanBeActive();

private:
    // The application's part in the bus: what each channel may hear of it, and what it
    // does with each message sent.
    friend class QCopChannel;
    friend class QCopEnvelope;
    bool acceptsFromBus(QCopChannel* channel, const QByteArray& message);
    void messageSent(const QByteArray& channel, const QByteArray& message, const QByteArray& data);

    bool notify(QObject* receiver, QEvent* event) override;
    // The main window's title bar where the toolkit draws it, shown only while the window
    // is neither maximised nor full screen.
    void followMainWindowState();
    void onTerminationSignal();
    void setUpDesktopServices();
    void onMountTableChanged();
    pda::CardNoticeFilter& cardNoticeFilter(QCopChannel* channel);
    void onApplicationMessage(const QByteArray& message, const QByteArray& data);
    QPointer<QWidget> main;
    Qt::WindowFlags mainFlags; // as the application made the main window
    bool closing = false;
    pda::MountWatcher* mountWatcher = nullptr;
    // One filter per listener, so that each hears each change once.
    QHash<QCopChannel*, pda::CardNoticeFilter*> cardNotices;
    QByteArray mountTable;  // as the last kernel wake-up found it
    pda::ScreenSaverInhibitor* screenSaver = nullptr;
    QCopChannel* applicationChannel = nullptr;
};
