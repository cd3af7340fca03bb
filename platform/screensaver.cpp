#include "platform/screensaver.h"

#include "platform/waylandsession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace pda {

namespace {

const QString screenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString screenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString screenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalInhibit = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString portalRequest = QStringLiteral("org.freedesktop.portal.Request");
constexpr uint portalIdleFlag = 8;

// The session's services answer at once or not at all; the camera must never hang on them.
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
        keep(pendingWay, call);
        delete call;
    }
    release(true);
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
    if (hold)
        inhibit(Way::ScreenSaver);
    else
        release(false);
}

void ScreenSaverInhibitor::inhibit(Way way)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if ((way == Way::ScreenSaver || way == Way::Portal) && !bus.isConnected())
        way = Way::IdleInhibit;
    QDBusMessage call;
    switch (way) {
    case Way::ScreenSaver:
        call = QDBusMessage::createMethodCall(screenSaverService, screenSaverPath,
                                              screenSaverInterface, QStringLiteral("Inhibit"));
        call << application << reason;
        break;
    case Way::Portal: {
        QVariantMap options;
        options.insert(QStringLiteral("reason"), reason);
        options.insert(QStringLiteral("handle_token"), QStringLiteral("hold%1").arg(++requests));
        call = QDBusMessage::createMethodCall(portalService, portalPath, portalInhibit,
                                              QStringLiteral("Inhibit"));
        // No parent window: a Wayland client has no handle to give for one.
        call << QString() << portalIdleFlag << options;
        break;
    }
    case Way::IdleInhibit:
        if (wayland::setIdleInhibited(true))
            held = Way::IdleInhibit;
        return;
    case Way::None:
        return;
    }
    // Without such a service the bus answers with an error and the next way is asked.
    call.setAutoStartService(false);
    pending = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    pendingWay = way;
    connect(pending, &QDBusPendingCallWatcher::finished, this, &ScreenSaverInhibitor::onInhibitReply);
}

bool ScreenSaverInhibitor::keep(Way way, QDBusPendingCallWatcher* call)
{
    if (way == Way::ScreenSaver) {
        const QDBusPendingReply<uint> reply = *call;
        if (!reply.isValid())
            return false;
        cookie = reply.value();
    } else {
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (!reply.isValid())
            return false;
        request = reply.value().path();
    }
    held = way;
    return true;
}

void ScreenSaverInhibitor::onInhibitReply(QDBusPendingCallWatcher* call)
{
    if (call != pending)
        return;
    pending = nullptr;
    call->deleteLater();
    const Way way = pendingWay;
    if (!keep(way, call)) {
        if (wanted)
            inhibit(way == Way::ScreenSaver ? Way::Portal : Way::IdleInhibit);
        return;
    }
    // Released while the hold was being granted.
    if (!wanted)
        release(false);
}

void ScreenSaverInhibitor::release(bool wait)
{
    const Way way = held;
    held = Way::None;
    QDBusMessage call;
    switch (way) {
    case Way::ScreenSaver:
        call = QDBusMessage::createMethodCall(screenSaverService, screenSaverPath,
                                              screenSaverInterface, QStringLiteral("UnInhibit"));
        call << cookie;
        break;
    case Way::Portal:
        call = QDBusMessage::createMethodCall(portalService, request, portalRequest,
                                              QStringLiteral("Close"));
        break;
    case Way::IdleInhibit:
        wayland::setIdleInhibited(false);
        return;
    case Way::None:
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    call.setAutoStartService(false);
    if (wait)
        bus.call(call, QDBus::Block, callTimeoutMs);
    else
        bus.asyncCall(call, callTimeoutMs);
}

} // namespace pda
