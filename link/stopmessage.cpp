#include "link/stopmessage.h"

StopMessage::StopMessage(std::function<void()> pauseMode)
    : m_pauseMode(std::move(pauseMode))
{
    setContent(QStringLiteral("\n"));
}

bool StopMessage::handleResponse(QString)
{
    m_pauseMode();
    return true;
}
