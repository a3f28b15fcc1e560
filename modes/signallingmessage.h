#pragma once

#include "link/serialmessage.h"

// A plain line whose answer is announced: it tells a mode that the controller has got this far in
// what was queued before it, whatever the answer was.
class SignallingMessage : public SerialMessage
{
    Q_OBJECT
public:
    explicit SignallingMessage(const QString &content);

    bool handleResponse(QString line) override;

Q_SIGNALS:
    void answered();
};
