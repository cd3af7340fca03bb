#pragma once
// Qt holds back what a new bus connection receives until the event loop first runs, then
// hands the held messages over after any that arrived in between. A test that compares
// messages in order waits once, before its first case, for its own probe to come back.
#include "platform/qcop.h"

#include <QDBusConnection>
#include <QSignalSpy>

inline bool busDeliversInOrder()
{
    if (!QDBusConnection::sessionBus().isConnected())
        return true;
    QCopChannel probe(QByteArrayLiteral("Test/Probe"));
    QSignalSpy spy(&probe, &QCopChannel::received);
    {
        QCopEnvelope e(QByteArrayLiteral("Test/Probe"), QByteArrayLiteral("ready()"));
    }
    return !spy.isEmpty() || spy.wait(10000);
}
