#pragma once

#include "link/serialmessage.h"

// Cancels a jog at once with GRBL's real-time jog-cancel byte, followed by a line end. It travels ahead
// of queued lines. The jog-cancel byte never enters GRBL's buffer; only the empty line behind it does,
// and it is answered with "ok".
class StopJoggingMessage : public SerialMessage
{
    Q_OBJECT
public:
    StopJoggingMessage();

    QByteArray toBytes() override;
};
