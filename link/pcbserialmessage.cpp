#include "link/pcbserialmessage.h"

namespace {
std::function<void()> &pausePcbMode()
{
    static std::function<void()> pause;
    return pause;
}

std::function<void(PCBSerialMessage *)> &connectPcbCompletion()
{
    static std::function<void(PCBSerialMessage *)> connectCompletion;
    return connectCompletion;
}
}

PCBSerialMessage::PCBSerialMessage(const QString &promptText, int promptType)
    : m_promptText(promptText)
    , m_promptType(promptType)
{
}

PCBSerialMessage *PCBSerialMessage::instance()
{
    static PCBSerialMessage *const carrier = new PCBSerialMessage(QString(), -1);
    return carrier;
}

void PCBSerialMessage::rememberPcbMode(std::function<void()> pauseMode,
                                       std::function<void(PCBSerialMessage *)> connectCompletion)
{
    pausePcbMode() = std::move(pauseMode);
    connectPcbCompletion() = std::move(connectCompletion);
}

bool PCBSerialMessage::handleResponse(QString)
{
    // The prompt comes before completion, so a tool change on the last line is still seen.
    if (!m_promptText.isEmpty()) {
        if (pausePcbMode())
            pausePcbMode()();
        Q_EMIT instance()->openQTMessageBox(m_promptText, m_promptType);
    }
    if (isLast()) {
        if (connectPcbCompletion())
            connectPcbCompletion()(this);
        Q_EMIT millFinished();
    }
    Q_EMIT instance()->setProgress(lineNumber());
    return true;
}
