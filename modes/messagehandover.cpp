#include "modes/messagehandover.h"

#include "link/serialmessage.h"
#include "link/serialport.h"

MessageHandOver::MessageHandOver(QObject *parent)
    : QObject(parent)
{
}

MessageHandOver::~MessageHandOver()
{
    drop();
}

bool MessageHandOver::handOver(SerialPort *connection, const QList<SerialMessage *> &messages)
{
    if (connection != m_connection)
        drop();
    m_connection = connection;
    m_pending << messages;
    handOverShare();
    return isConnected();
}

void MessageHandOver::drop()
{
    qDeleteAll(m_pending);
    m_pending.clear();
}

void MessageHandOver::handOverShare()
{
    for (int handed = 0; handed < Share && !m_pending.isEmpty(); ++handed) {
        if (!isConnected()) {
            drop();
            return;
        }
        m_connection->addMessageToWriterReader(m_pending.takeFirst());
    }
    if (!m_pending.isEmpty())
        QMetaObject::invokeMethod(this, &MessageHandOver::handOverShare, Qt::QueuedConnection);
}

bool MessageHandOver::isConnected() const
{
    return m_connection && m_connection->isConnected();
}
