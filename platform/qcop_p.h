#pragma once
// Internal to the platform library.
#include <QByteArray>
#include <QList>
#include <functional>

class QCopChannel;

namespace pda {

// Waits until every QCop message sent so far has left for the bus (one round trip).
void flushQCop();

// This process's channels of that name, for messages the stand-in raises itself.
QList<QCopChannel*> channelsNamed(const QByteArray& channel);

// Consulted for each message a channel hears over the bus; false keeps it from that channel.
// One filter per process; an empty function lets everything through.
using BusFilter = std::function<bool(QCopChannel* receiver, const QByteArray& message)>;
void setBusFilter(BusFilter filter);

// Told of every message this process sends, after it has gone out (or could not).
using SendObserver = std::function<void(const QByteArray& channel, const QByteArray& message,
                                        const QByteArray& data)>;
void setSendObserver(SendObserver observer);

} // namespace pda
