#pragma once
// A stand-in for the desktop portal's Inhibit on the test's session bus
// (org.freedesktop.portal.Desktop, org.freedesktop.portal.Inhibit): each hold is a request
// object that Close ends. Like the real portal it drops the holds of a client whose bus
// connection closes. Calls are recorded in order.
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// One hold: the object at the handle the Inhibit call returned.
class InhibitRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    explicit InhibitRequest(std::function<void()> closed) : onClose(std::move(closed)) {}
public slots:
    void Close() { onClose(); }
private:
    std::function<void()> onClose;
};

class InhibitPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    InhibitPortal()
    {
        watcher.setConnection(QDBusConnection::sessionBus());
        watcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, this, &InhibitPortal::clientGone);
    }
    ~InhibitPortal() override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        for (auto it = holds.begin(); it != holds.end(); ++it)
            bus.unregisterObject(it.value().path);
        qDeleteAll(requests);
        if (registered) {
            bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
            bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        }
    }

    bool start()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        registered = bus.isConnected()
            && bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                  QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
        return registered;
    }

    // "Inhibit <flags> <n>", "Close <n>", "dropped <n>" (client gone).
    QStringList events;
    int held() const { return int(holds.size()); }

public slots:
    QDBusObjectPath Inhibit(const QString& window, uint flags, const QVariantMap& options)
    {
        Q_UNUSED(window);
        const int n = next++;
        QString sender = message().service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString token = options.value(QStringLiteral("handle_token"), QStringLiteral("t%1").arg(n)).toString();
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        auto* request = new InhibitRequest([this, n] { end(n, QStringLiteral("Close")); });
        requests.append(request);
        QDBusConnection::sessionBus().registerObject(path, request, QDBusConnection::ExportAllSlots);
        holds.insert(n, {message().service(), path});
        watcher.addWatchedService(message().service());
        events << QStringLiteral("Inhibit %1 %2").arg(flags).arg(n);
        return QDBusObjectPath(path);
    }

private:
    struct Hold {
        QString client;
        QString path;
    };

    void end(int n, const QString& how)
    {
        auto it = holds.find(n);
        if (it == holds.end())
            return;
        QDBusConnection::sessionBus().unregisterObject(it.value().path);
        holds.erase(it);
        events << QStringLiteral("%1 %2").arg(how).arg(n);
    }

    void clientGone(const QString& client)
    {
        QList<int> gone;
        for (auto it = holds.begin(); it != holds.end(); ++it) {
            if (it.value().client == client)
                gone << it.key();
        }
        for (int n : std::as_const(gone))
            end(n, QStringLiteral("dropped"));
        watcher.removeWatchedService(client);
    }

    QDBusServiceWatcher watcher;
    QMap<int, Hold> holds;
    QList<InhibitRequest*> requests;
    int next = 1;
    bool registered = false;
};
