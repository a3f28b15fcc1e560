#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class SerialMessage;
class SerialPort;

// Hands a job's messages to the connection a share at a time, one share per turn of the event loop,
// so that queueing a long job never keeps the window from answering (Stop above all). Messages not yet
// handed over belong to this object; a connection that went away drops them.
class MessageHandOver : public QObject
{
    Q_OBJECT
public:
    static constexpr int Share = 2000;

    explicit MessageHandOver(QObject *parent = nullptr);
    ~MessageHandOver() override;

    // Takes the messages; false when the connection is not there to take them (they are dropped).
    bool handOver(SerialPort *connection, const QList<SerialMessage *> &messages);
    void drop();
    bool isEmpty() const { return m_pending.isEmpty(); }

private:
    void handOverShare();
    bool isConnected() const;

    QPointer<SerialPort> m_connection;
    QList<SerialMessage *> m_pending;
};
