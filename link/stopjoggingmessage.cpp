#include "link/stopjoggingmessage.h"

StopJoggingMessage::StopJoggingMessage()
{
    setContent(QStringLiteral("\n"));
    setPriority(true);
}

QByteArray StopJoggingMessage::toBytes()
{
    markSent();
    return QByteArrayLiteral("\x85\n");
}
