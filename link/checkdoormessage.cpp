#include "link/checkdoormessage.h"

#include <atomic>

namespace {
// Read by job modes that may run on worker tasks, written on the GUI thread.
std::atomic<bool> doorOpenFlag { false };
}

CheckDoorMessage::CheckDoorMessage()
{
    setContent(QStringLiteral("?"));
    setKind(StatusQuery);
    setPriority(true);
}

CheckDoorMessage *CheckDoorMessage::instance()
{
    static CheckDoorMessage *const carrier = new CheckDoorMessage;
    return carrier;
}

bool CheckDoorMessage::isDoorOpen()
{
    return doorOpenFlag;
}

void CheckDoorMessage::setDoorOpen(bool open)
{
    doorOpenFlag = open;
}

bool CheckDoorMessage::handleResponse(QString line)
{
    CheckDoorMessage *carrier = instance();
    // Only a report of an open door marks it open; any other report clears it.
    const bool open = line.contains(QLatin1String("Door:1"));
    setDoorOpen(open);
    Q_EMIT carrier->doorOpen(open);
    if (!open && line.contains(QLatin1String("Door:0")))
        Q_EMIT carrier->unlock();
    return true;
}
