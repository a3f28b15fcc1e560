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
