#include "platform/qcop.h"
#include "platform/qcop_p.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QPointer>

namespace {

const QString objectPath = QStringLiteral("/QCop");
const QString interfaceName = QStringLiteral("local.PDA.QCop");
const QString signalName = QStringLiteral("message");

bool sentSinceFlush = false;
pda::BusFilter busFilter;
pda::SendObserver sendObserver;

} // namespace

namespace pda {

// The process's one listener on the bus. Every message is judged once by the filter and
// then handed to each channel of that name, so that channels never disagree about it.
class QCopHub : public QObject {
    Q_OBJECT
public:
    static QCopHub* instance()
    {
        if (!hub)
            hub = new QCopHub(QCoreApplication::instance());
        return hub;
    }
    // Null once the application, which owns the hub, is gone.
    static QCopHub* existing() { return hub; }

    void add(QCopChannel* channel)
    {
        channels.append(channel);
        if (listening)
            return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected())
            listening = bus.connect(QString(), objectPath, interfaceName, signalName, this,
                                    SLOT(onBusMessage(QString, QString, QByteArray)));
    }

    void remove(QCopChannel* channel) { channels.removeAll(channel); }

    void deliver(const QByteArray& channel, const QByteArray& message, const QByteArray& data)
    {
        // A receiver may delete channels, its own among them.
        QList<QPointer<QCopChannel>> targets;
        for (QCopChannel* c : std::as_const(channels)) {
            if (c->channel() == channel)
                targets.append(c);
        }
        for (const QPointer<QCopChannel>& c : std::as_const(targets)) {
            if (c)
                emit c->received(message, data);
        }
    }

private slots:
    void onBusMessage(const QString& channel, const QString& message, const QByteArray& data)
    {
        const QByteArray c = channel.toUtf8();
        const QByteArray m = message.toUtf8();
        if (busFilter && !busFilter(c, m))
            return;
        deliver(c, m, data);
    }

private:
    using QObject::QObject;
    static inline QPointer<QCopHub> hub;
    QList<QCopChannel*> channels;
    bool listening = false;
};

void deliverLocally(const QByteArray& channel, const QByteArray& message, const QByteArray& data)
{
    QCopHub::instance()->deliver(channel, message, data);
}

void setBusFilter(BusFilter filter)
{
    busFilter = std::move(filter);
}

void setSendObserver(SendObserver observer)
{
    sendObserver = std::move(observer);
}

} // namespace pda

QCopEnvelope::QCopEnvelope(const QByteArray& channel_, const QByteArray& message_)
    : channel(channel_), message(message_)
{
    buffer.setBuffer(&data);
    buffer.open(QIODevice::WriteOnly);
    setDevice(&buffer);
}

QCopEnvelope::~QCopEnvelope()
{
    setDevice(nullptr);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage signal = QDBusMessage::createSignal(objectPath, interfaceName, signalName);
        signal << QString::fromUtf8(channel) << QString::fromUtf8(message) << data;
        if (bus.send(signal))
            sentSinceFlush = true;
    }
    if (sendObserver)
        sendObserver(channel, message, data);
}

QCopChannel::QCopChannel(const QByteArray& channel, QObject* parent)
    : QObject(parent), name(channel)
{
    pda::QCopHub::instance()->add(this);
}

QCopChannel::~QCopChannel()
{
    if (pda::QCopHub* hub = pda::QCopHub::existing())
        hub->remove(this);
}

void pda::flushQCop()
{
    if (!sentSinceFlush)
        return;
    sentSinceFlush = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The bus answers in order, so a reply means every earlier message has been written.
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
    bus.call(ping, QDBus::Block, 2000);
}

#include "qcop.moc"
