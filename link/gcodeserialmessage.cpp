#include "link/gcodeserialmessage.h"

GcodeSerialMessage::GcodeSerialMessage() = default;

GcodeSerialMessage *GcodeSerialMessage::instance()
{
    static GcodeSerialMessage *const carrier = new GcodeSerialMessage;
    return carrier;
}

bool GcodeSerialMessage::handleResponse(QString)
{
    GcodeSerialMessage *carrier = instance();
    if (isCheckRun()) {
        Q_EMIT carrier->setTestProgress(lineNumber());
        if (isLast())
            Q_EMIT carrier->allTestMSGsSent();
    } else {
        Q_EMIT carrier->setProgress(lineNumber());
        if (isLast())
            Q_EMIT carrier->allMSGsSent();
    }
    return true;
}
