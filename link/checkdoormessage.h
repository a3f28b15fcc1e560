#pragma once

#include "link/serialmessage.h"

// A status query ("?", a real-time command answered by a report and no "ok") that watches the safety door. Every door message reports through the process-wide
// instance; a report of a closed door that is ready to resume ("Door:0") asks the connection to resume.
class CheckDoorMessage : public SerialMessage
{
    Q_OBJECT
public:
    CheckDoorMessage();

    // The carrier of the door signals; created on first use, never queued, alive until the end.
    static CheckDoorMessage *instance();

    static bool isDoorOpen();
    static void setDoorOpen(bool open);

    bool handleResponse(QString line) override;

Q_SIGNALS:
    void doorOpen(bool status);
    void unlock();
};
