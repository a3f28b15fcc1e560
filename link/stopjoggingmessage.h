#pragma once

#include "link/serialmessage.h"

// Cancels a jog at once with GRBL's real-time jog-cancel byte. It travels ahead of queued lines.
class StopJoggingMessage : public SerialMessage
{
    Q_OBJECT
public:
    StopJoggingMessage();

    // The content holds a blank in place of the jog-cancel byte, so the budget counts the two bytes written.
    QByteArray toBytes() override;
};
