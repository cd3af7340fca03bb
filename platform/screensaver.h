#pragma once
// The screen-saver level an application asks for, forwarded to the first of these that the
// session offers:
// 1. org.freedesktop.ScreenSaver (Inhibit/UnInhibit) on the session bus: the session's own
//    screen saver, what X11 desktops and Plasma offer;
// 2. the desktop portal's Inhibit with the idle flag (org.freedesktop.portal.Inhibit): GNOME
//    and other Wayland sessions that keep the first one to themselves;
// 3. the compositor's idle-inhibit protocol on the application's windows: compositors
//    without either service (sway, weston), where it holds only while a window shows.
// The bus services come first because they hold for the whole session, whatever covers the
// window, and both drop a hold by themselves when the application's connection closes.
// Internal to the platform library.
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
    enum class Way { ScreenSaver, Portal, IdleInhibit, None };

    // Asks `way` for a hold; one that is not offered passes on to the next.
    void inhibit(Way way);
    void onInhibitReply(QDBusPendingCallWatcher* call);
    // Takes what a granted request returned; false when it granted nothing.
    bool keep(Way way, QDBusPendingCallWatcher* call);
    void release(bool wait);

    QString application;
    QString reason;
    bool wanted = false;
    Way held = Way::None;   // the way the hold in force was granted
    uint cookie = 0;        // the screen saver's
    QString request;        // the portal's request object
    QDBusPendingCallWatcher* pending = nullptr;
    Way pendingWay = Way::None;
    uint requests = 0;      // for the portal's request tokens
};

} // namespace pda
