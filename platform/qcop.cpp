#include "platform/qcop.h"
#include "platform/qcop_p.h"
#include "platform/qpeapplication.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {

const QString objectPath = QStringLiteral("/QCop");
const QString interfaceName = QStringLiteral("local.PDA.QCop");
const QString signalName = QStringLiteral("message");

bool sentSinceFlush = false;

// The environment's application object, where the program runs on one.
QPEApplication* application()
{
    return qobject_cast<QPEApplication*>(QCoreApplication::instance());
}

// Every channel of this process, for messages delivered without the bus.
QList<QCopChannel*>& allChannels()
{
    static QList<QCopChannel*> all;
    return all;
}

} // namespace

QList<QCopChannel*> pda::channelsNamed(const QByteArray& channel)
{
    QList<QCopChannel*> named;
    for (QCopChannel* c : std::as_const(allChannels())) {
        if (c->channel() == channel)
            named.append(c);
    }
    return named;
}

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
    if (QPEApplication* app = application())
        app->messageSent(channel, message, data);
}

QCopChannel::QCopChannel(const QByteArray& channel, QObject* parent)
    : QObject(parent), name(channel)
{
    allChannels().append(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(QString(), objectPath, interfaceName, signalName, this,
                    SLOT(onMessage(QString, QString, QByteArray)));
}

QCopChannel::~QCopChannel()
{
    allChannels().removeAll(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.disconnect(QString(), objectPath, interfaceName, signalName, this,
                       SLOT(onMessage(QString, QString, QByteArray)));
}

void QCopChannel::onMessage(const QString& channel, const QString& message, const QByteArray& data)
{
    if (channel.toUtf8() != name)
        return;
    const QByteArray m = message.toUtf8();
    if (QPEApplication* app = application(); app && !app->acceptsFromBus(this, m))
        return;
    emit received(m, data);
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
