#include "modes/signallingmessage.h"

SignallingMessage::SignallingMessage(const QString &content)
{
    setContent(content);
}

bool SignallingMessage::handleResponse(QString)
{
    Q_EMIT answered();
    return true;
}
