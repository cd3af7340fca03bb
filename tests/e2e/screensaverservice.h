#pragma once
// A stand-in for the desktop session's screen saver on the test's session bus: the
// org.freedesktop.ScreenSaver Inhibit/UnInhibit pair, recorded in order. Like the real
// services it drops the holds of a client whose bus connection closes.
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QObject>
#include <QStringList>

class ScreenSaverService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    // On `bus`: a connection of its own puts the bus between the service and a client in
    // the same process.
    explicit ScreenSaverService(QDBusConnection bus = QDBusConnection::sessionBus())
        : bus(bus)
    {
        watcher.setConnection(bus);
        watcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                &ScreenSaverService::clientGone);
    }
    ~ScreenSaverService() override
    {
        if (registered) {
            bus.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver"));
            bus.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
        }
    }

    bool start()
    {
        registered = bus.isConnected()
            && bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), this,
                                  QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"));
        return registered;
    }

    // "Inhibit <application> <cookie>", "UnInhibit <cookie>", "dropped <cookie>" (client
    // gone), "unknown <cookie>" (an UnInhibit for no hold).
    QStringList events;
    int held() const { return int(holds.size()); }

public slots:
    uint Inhibit(const QString& application, const QString& reason)
    {
        const uint cookie = next++;
        const QString client = message().service();
        holds.insert(cookie, client);
        watcher.addWatchedService(client);
        events << QStringLiteral("Inhibit %1 %2").arg(application).arg(cookie);
        lastReason = reason;
        return cookie;
    }
    void UnInhibit(uint cookie)
    {
        events << QStringLiteral("%1 %2")
                      .arg(holds.remove(cookie) ? QStringLiteral("UnInhibit") : QStringLiteral("unknown"))
                      .arg(cookie);
    }

public:
    QString lastReason;

private:
    void clientGone(const QString& client)
    {
        for (auto it = holds.begin(); it != holds.end();) {
            if (it.value() == client) {
                events << QStringLiteral("dropped %1").arg(it.key());
                it = holds.erase(it);
            } else {
                ++it;
            }
        }
        watcher.removeWatchedService(client);
    }

    QDBusConnection bus;
    QDBusServiceWatcher watcher;
    QMap<uint, QString> holds;
    uint next = 1;
    bool registered = false;
};
