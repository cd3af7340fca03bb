#pragma once
// The screen-saver level an application asks for, forwarded to the desktop session's screen
// saver (org.freedesktop.ScreenSaver Inhibit/UnInhibit on the session bus). Internal to the
// platform library.
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace pda {

class ScreenSaverInhibitor : public QObject {
    Q_OBJECT
public:
    ScreenSaverInhibitor(QString application, QString reason, QObject* parent = nullptr);
    // Releases a hold still in force; waits briefly for a request under way.
    ~ScreenSaverInhibitor() override;

    // The value of "setScreenSaverMode(int)": 0 holds the screen saver off, any other
    // value lets it work again.
    void setMode(int mode);
    bool isHeld() const { return wanted; }

private:
    void inhibit();
    void onInhibitReply(QDBusPendingCallWatcher* call);
    void uninhibit(uint cookie, bool wait);

    QString application;
    QString reason;
    bool wanted = false;
    bool haveCookie = false;
    uint cookie = 0;
    QDBusPendingCallWatcher* pending = nullptr;
};

} // namespace pda
