#include "link/stlserialmessage.h"

STLSerialMessage::STLSerialMessage(const QString &text, int number)
    : m_text(text)
    , m_number(number)
{
}

STLSerialMessage *STLSerialMessage::instance()
{
    static STLSerialMessage *const carrier = new STLSerialMessage(QString(), -1);
    return carrier;
}

bool STLSerialMessage::handleResponse(QString)
{
    STLSerialMessage *carrier = instance();
    Q_EMIT carrier->setProgress(lineNumber());
    if (isLast())
        Q_EMIT carrier->millFinished();
    return true;
}
