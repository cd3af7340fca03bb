#pragma once
// The environment's message bus (QCop), carried on the D-Bus session bus as the signal
// local.PDA.QCop.message(s channel, s message, ay data) on the object path /QCop.
// Without a session bus nothing is sent and nothing fails; messages the environment
// stand-in raises itself (memory-card notices) still reach the process's own channels.
#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QObject>

// Arguments are streamed into the envelope; the message is sent when it is destroyed.
class QCopEnvelope : public QDataStream {
public:
    QCopEnvelope(const QByteArray& channel, const QByteArray& message);
    ~QCopEnvelope();

private:
    QByteArray channel;
    QByteArray message;
    QByteArray data;
    QBuffer buffer;  // the stream's device; declared after the bytes it writes into
};

class QCopChannel : public QObject {
    Q_OBJECT
public:
    explicit QCopChannel(const QByteArray& channel, QObject* parent = nullptr);
    ~QCopChannel() override;
    QByteArray channel() const { return name; }

signals:
    void received(const QByteArray& message, const QByteArray& data);

private slots:
    void onMessage(const QString& channel, const QString& message, const QByteArray& data);

private:
    QByteArray name;
};
