#include "link/serialmessage.h"

SerialMessage::SerialMessage(QObject *parent)
    : QObject(parent)
{
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
