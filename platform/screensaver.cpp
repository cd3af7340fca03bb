#include "platform/screensaver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace pda {

namespace {

const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
const QString path = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString interface = QStringLiteral("org.freedesktop.ScreenSaver");

// The session's screen saver answers at once or not at all; the camera must never hang on it.
constexpr int callTimeoutMs = 2000;

} // namespace

ScreenSaverInhibitor::ScreenSaverInhibitor(QString application_, QString reason_, QObject* parent)
    : QObject(parent), application(std::move(application_)), reason(std::move(reason_))
{
}

ScreenSaverInhibitor::~ScreenSaverInhibitor()
{
    wanted = false;
    if (pending) {
        pending->waitForFinished();
        QDBusPendingCallWatcher* call = pending;
        pending = nullptr;
        const QDBusPendingReply<uint> reply = *call;
        if (reply.isValid()) {
            haveCookie = true;
            cookie = reply.value();
        }
        delete call;
    }
    if (haveCookie)
        uninhibit(cookie, true);
}

void ScreenSaverInhibitor::setMode(int mode)
{
    const bool hold = mode == 0;
    if (hold == wanted)
        return;
    wanted = hold;
    // A request under way settles the rest when its answer comes.
    if (pending)
        return;
    if (hold) {
        inhibit();
    } else if (haveCookie) {
        haveCookie = false;
        uninhibit(cookie, false);
    }
}

void ScreenSaverInhibitor::inhibit()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface,
                                                       QStringLiteral("Inhibit"));
    call << application << reason;
    // Without such a service the bus answers with an error and nothing more happens.
    call.setAutoStartService(false);
    pending = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            &ScreenSaverInhibitor::onInhibitReply);
}

void ScreenSaverInhibitor::onInhibitReply(QDBusPendingCallWatcher* call)
{
    if (call != pending)
        return;
    pending = nullptr;
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (!reply.isValid())
        return;
    if (wanted) {
        haveCookie = true;
        cookie = reply.value();
    } else {
        // Released while the hold was being granted.
        uninhibit(reply.value(), false);
    }
}

void ScreenSaverInhibitor::uninhibit(uint which, bool wait)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface,
                                                       QStringLiteral("UnInhibit"));
    call << which;
    call.setAutoStartService(false);
    if (wait)
        bus.call(call, QDBus::Block, callTimeoutMs);
    else
        bus.asyncCall(call, callTimeoutMs);
}

} // namespace pda
