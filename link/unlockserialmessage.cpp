#include "link/unlockserialmessage.h"

UnlockSerialMessage::UnlockSerialMessage(QObject *parent)
    : SerialMessage(parent)
{
    setUnlockOnly(false);
}

void UnlockSerialMessage::setUnlockOnly(bool unlockOnly)
{
    setContent(unlockOnly ? QStringLiteral("$X\n") : QStringLiteral("$H\n"));
}

bool UnlockSerialMessage::handleResponse(QString line)
{
    emit answered(line == QLatin1String("ok"));
    return true;
}
