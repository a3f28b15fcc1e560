#include "link/serialmessage.h"

SerialMessage::SerialMessage(QObject *parent)
    : QObject(parent)
{
}

void SerialMessage::setContent(const QString &content)
{
    m_content = content;
    m_length = content.toUtf8().size();
}

QByteArray SerialMessage::toBytes()
{
    markSent();
    return m_content.toUtf8();
}

bool SerialMessage::handleResponse(QString)
{
    return true;
}
