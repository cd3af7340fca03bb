#include "platform/qcop.h"
#include "platform/qcop_p.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {

const QString objectPath = QStringLiteral("/QCop");
const QString interfaceName = QStringLiteral("local.PDA.QCop");
const QString signalName = QStringLiteral("message");

bool sentSinceFlush = false;

} // namespace

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
    if (!bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(objectPath, interfaceName, signalName);
    signal << QString::fromUtf8(channel) << QString::fromUtf8(message) << data;
    if (bus.send(signal))
        sentSinceFlush = true;
}

QCopChannel::QCopChannel(const QByteArray& channel, QObject* parent)
    : QObject(parent), name(channel)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.connect(QString(), objectPath, interfaceName, signalName, this,
                    SLOT(onMessage(QString, QString, QByteArray)));
}

QCopChannel::~QCopChannel()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.disconnect(QString(), objectPath, interfaceName, signalName, this,
                       SLOT(onMessage(QString, QString, QByteArray)));
}

void QCopChannel::onMessage(const QString& channel, const QString& message, const QByteArray& data)
{
    if (channel.toUtf8() == name)
        emit received(message.toUtf8(), data);
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
