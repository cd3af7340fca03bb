#pragma once
// Internal to the platform library.
#include <QByteArray>
#include <functional>

namespace pda {

// Waits until every QCop message sent so far has left for the bus (one round trip).
void flushQCop();

// Hands a message to this process's own channels only, as if it had come over the bus.
void deliverLocally(const QByteArray& channel, const QByteArray& message,
                    const QByteArray& data = QByteArray());

// Consulted once for every message that arrives over the bus; false drops it before any
// channel sees it. One filter per process; an empty function lets everything through.
using BusFilter = std::function<bool(const QByteArray& channel, const QByteArray& message)>;
void setBusFilter(BusFilter filter);

// Told of every message this process sends, after it has gone out (or could not).
using SendObserver = std::function<void(const QByteArray& channel, const QByteArray& message,
                                        const QByteArray& data)>;
void setSendObserver(SendObserver observer);

} // namespace pda
