#include "link/serialmessage.h"

#include "link/grblline.h"

SerialMessage::SerialMessage(QObject *parent)
    : QObject(parent)
{
}

void SerialMessage::setContent(const QString &content)
{
    m_content = content;
    m_length = GrblLine::isRealtimeCommand(content) ? 1 : content.toUtf8().size();
}

bool SerialMessage::isRealtime() const
{
    return GrblLine::isRealtimeCommand(m_content);
}

// Real-time commands from 0x80 up are single bytes on the wire, not UTF-8 sequences.
QByteArray SerialMessage::toBytes()
{
    markSent();
    return isRealtime() ? m_content.toLatin1() : m_content.toUtf8();
}

bool SerialMessage::handleResponse(QString)
{
    return true;
}
