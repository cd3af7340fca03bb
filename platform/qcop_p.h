#pragma once
// Internal to the platform library.
#include <QByteArray>
#include <QList>

class QCopChannel;

namespace pda {

// Waits until every QCop message sent so far has left for the bus (one round trip).
void flushQCop();

// This process's channels of that name, for messages the stand-in raises itself.
QList<QCopChannel*> channelsNamed(const QByteArray& channel);

} // namespace pda
